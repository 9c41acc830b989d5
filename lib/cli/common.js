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

// The first quoted name in one of node:util's parse errors ('--color').
function quoted(message) {
  const match = /'([^']*)'/.exec(message);
  return match ? match[1].replace(/ <value>$/, '') : message;
}

// Parses a command's arguments strictly: `options` in node:util.parseArgs
// form, at most `maxPositional` positional arguments ("--" ends the options).
// Returns { values, positionals }; throws a HelpRequest for -h or --help and
// a UsageError on anything else.
function parse(args, options, maxPositional) {
  let parsed;
  try {
    parsed = parseArgs({
      args,
      options: { ...options, help: { type: 'boolean', short: 'h' } },
      strict: true,
      allowPositionals: true,
    });
  } catch (error) {
    if (error.code === 'ERR_PARSE_ARGS_UNKNOWN_OPTION') {
      throw new UsageError(`unknown option ${quoted(error.message)}`);
    }
    if (error.code === 'ERR_PARSE_ARGS_INVALID_OPTION_VALUE') {
      throw new UsageError(`${quoted(error.message)} needs a value`);
    }
    throw new UsageError(error.message);
  }
  if (parsed.values.help) throw new HelpRequest();
  if (parsed.positionals.length > maxPositional) {
    throw new UsageError(`unexpected argument ${parsed.positionals[maxPositional]}`);
  }
  return parsed;
}

// The absolute application directory named by --app (default: the current
// directory); it must exist.
function appDir(values) {
  const dir = path.resolve(values.app || '.');
  if (!fs.existsSync(dir) || !fs.statSync(dir).isDirectory()) {
    throw new UsageError(`application directory ${dir} does not exist`);
  }
  return dir;
}

// A syntax file as a command names it: a path (with a "/"), "*.*" for every
// pack, or a name below the application's node_modules.
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
