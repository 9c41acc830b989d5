'use strict';
// What the commands share: argument parsing, the application directory, the
// add-on and printing.
const fs = require('node:fs');
const path = require('node:path');
const { parseArgs } = require('node:util');
const addonFiles = require('../addon');

class UsageError extends Error {}
// Thrown by parse when the arguments ask for the command's usage text.
class HelpRequest extends Error {}

// What is wrong with one option of the command line (a token of
// node:util.parseArgs), or null. `options` is in parseArgs form.
function optionProblem(token, options) {
  const known = Object.hasOwn(options, token.name) ? options[token.name] : null;
  if (known === null) return `unknown option ${token.rawName}`;
  if (known.type === 'boolean') {
    return token.value === undefined ? null : `${token.rawName} takes no value`;
  }
  // A value that looks like an option is taken for one, not for the value.
  const missing = token.value === undefined || (!token.inlineValue && token.value.startsWith('-'));
  return missing ? `${token.rawName} needs a value` : null;
}

// Parses a command's arguments strictly: `options` in node:util.parseArgs
// form, at most `maxPositional` positional arguments ("--" ends the options).
// Returns { values, positionals }; throws a HelpRequest for -h or --help and
// a UsageError on anything else.
function parse(args, options, maxPositional) {
  const all = { ...options, help: { type: 'boolean', short: 'h' } };
  const parsed = parseArgs({ args, options: all, strict: false, allowPositionals: true, tokens: true });
  for (const token of parsed.tokens) {
    const problem = token.kind === 'option' ? optionProblem(token, all) : null;
    if (problem) throw new UsageError(problem);
  }
  if (parsed.values.help) throw new HelpRequest();
  if (parsed.positionals.length > maxPositional) {
    throw new UsageError(`unexpected argument ${parsed.positionals[maxPositional]}`);
  }
  return parsed;
}

// The absolute application directory named by --app (default: the current
// directory); it must exist. Without --app, a directory that is no
// application home (no catalogue, whose absence the engine reports in its
// own French text) gets a hint in English.
function appDir(values) {
  const dir = path.resolve(values.app || '.');
  if (!fs.existsSync(dir) || !fs.statSync(dir).isDirectory()) {
    throw new UsageError(`application directory ${dir} does not exist`);
  }
  if (values.app === undefined && !fs.existsSync(path.join(dir, 'node_modules', 'zel_linux', 'lang.conf'))) {
    process.stderr.write(`zel: hint: ${dir} is no application home (no node_modules/zel_linux/` +
      'lang.conf); name one with --app DIR\n');
  }
  return dir;
}

// A syntax file as a command names it: a path (with a "/"), "*.*" for every
// pack, or a name below the application's node_modules. The engine refuses
// a path that does not lead below node_modules.
function syntaxPath(app, syntax) {
  if (syntax === '*.*') return syntax;
  return syntax.includes('/') ? path.resolve(syntax) : path.join(app, 'node_modules', syntax);
}

// The add-on's exports; exits with status 1 when no add-on loads.
function addon() {
  try {
    return addonFiles.load();
  } catch (error) {
    process.stderr.write(`${error.message}\n`);
    process.exit(1);
  }
}

// The package's exports with the promise API; exits with status 1 when no
// add-on loads.
function api() {
  addon();
  return require('../..');
}

function print(text) {
  if (text !== '') process.stdout.write(text.endsWith('\n') ? text : text + '\n');
}

module.exports = {
  UsageError, HelpRequest, parse, appDir, syntaxPath, addon, api, print,
};
