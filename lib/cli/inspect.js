'use strict';
// Looking at packs and modules for "zel check" and "zel add-pack": zel-probe
// reads the forms as the engine does, and loads each module in a confined
// process of its own (confined.js), which runs the module's constructors.
// Every problem is one line, "FILE:LINE: what is wrong; what to do" (no
// LINE for a module file).
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { nativeFile } = require('../addon');
const { UsageError, addon } = require('./common');
const { hintFor } = require('./hints');
const { childIdentity, runConfined } = require('./confined');

// How long one module may take to load and make its object, by default.
const defaultLoadLimitMs = 10000;

// The option of both commands that sets the load limit, in parseArgs form.
const loadLimitOption = { 'load-limit': { type: 'string' } };

// What loading takes, from the parsed --load-limit: { limitMs, identity }.
// Throws a UsageError for a limit that is not a whole number of ms.
function loadSettings(values) {
  const text = values['load-limit'];
  if (text !== undefined && !/^[1-9]\d{0,8}$/.test(text)) {
    throw new UsageError('--load-limit needs a whole number of milliseconds from 1 to 999999999');
  }
  return { limitMs: text === undefined ? defaultLoadLimitMs : Number(text), identity: childIdentity() };
}

// The path of zel-probe; exits with status 1 when it is not built.
function probePath() {
  const file = nativeFile('zel-probe');
  if (file) return file;
  process.stderr.write('zel: zel-probe is not built; run "npm rebuild zel" (or "npm run build") first\n');
  return process.exit(1);
}

// Runs zel-probe with `args`, which load no module; exits with status 1 when
// it cannot run.
function probe(args) {
  const child = spawnSync(probePath(), args, { encoding: 'utf8' });
  if (child.error) {
    process.stderr.write(`zel: cannot run ${probePath()}: ${child.error.message}\n`);
    process.exit(1);
  }
  return child;
}

// zel-probe's answer to `args` as rows of tab-separated fields.
function probeRows(args) {
  return probe(args).stdout.split('\n').filter(Boolean).map((line) => line.split('\t'));
}

// The module the engine runs for the shared object path `file`: the file,
// or when there is none its JavaScript twin M.js beside it, if any.
function moduleFile(file) {
  const twin = file.replace(/\.so$/, '.js');
  return !fs.existsSync(file) && twin !== file && fs.existsSync(twin) ? twin : file;
}

// The pattern of the form at line `line` of `pack` (for a sample call).
function patternAt(pack, line) {
  const text = fs.readFileSync(pack, 'utf8').split('\n')[Number(line) - 1] || '';
  return text.replace(/\s*\([^()]*\)\s*$/, '').trim();
}

// The syntax modules of the directory `dir`: NAME.so, and NAME.js when
// there is no NAME.so, as the engine takes them.
function syntaxModulesIn(dir) {
  const names = fs.existsSync(dir) ? fs.readdirSync(dir) : [];
  return names.filter((f) => f.endsWith('.so') ||
    (f.endsWith('.js') && !names.includes(`${f.slice(0, -3)}.so`))).map((f) => path.join(dir, f));
}

// The forms of the pack file `pack`, whose modules live in `moduleDir`:
// { modules: [{ kind, file, where }], problems: [line] }.
function formsOf(pack, moduleDir) {
  const modules = [];
  const problems = [];
  const shown = path.basename(pack);
  for (const [kind, first, second] of probeRows(['forms', pack, moduleDir])) {
    if (kind === 'module') {
      modules.push({ kind, file: moduleFile(first), where: `${shown}:${second}`, sample: patternAt(pack, second) });
    } else if (kind === 'no-module') {
      problems.push(`${pack}:${first}: the form "${second}" names no module; end the line with the ` +
        'module that runs it in parentheses, as in "say <text> (say)"');
    } else if (kind === 'unreadable') {
      problems.push(`${pack}: not a regular file that can be read, so the engine cannot read its forms; ` +
        'put the pack\'s .zel file there, or remove it');
    } else if (kind === 'outside-module') {
      problems.push(`${pack}:${first}: the module "${second}" is not a file inside ` +
        `${path.basename(moduleDir)}/, so the engine never loads it; name a file below it, without ".so"`);
    }
  }
  return { modules, problems };
}

// What is wrong with loading the module `file` (kind "module" or
// "syntax-module"), as one problem line, or null when it loads; `settings`
// are loadSettings()'s.
async function loadProblem({ kind, file, where, sample }, { limitMs, identity }) {
  if (file.endsWith('.js')) return scriptProblem({ kind, file, where, sample }, { limitMs, identity });
  // Loaded from its own directory, which the child enters before it drops
  // its rights; a file whose directory is missing cannot be opened at all.
  const dirMissing = !fs.statSync(path.dirname(file), { throwIfNoEntry: false })?.isDirectory();
  const child = dirMissing ? { status: 1, signal: null, stdout: 'unreadable' }
    : await runConfined(probePath(), ['load', kind, `./${path.basename(file)}`],
      { limitMs, identity, cwd: path.dirname(file) });
  if (child.error) throw new Error(`cannot run ${probePath()}: ${child.error.message}`);
  const answer = child.stdout.trim().split('\n').pop() || '';
  const named = where ? ` (named by ${where})` : '';
  if (!child.signal && child.status === 0 && answer === 'ok') return null;
  if (!child.signal && child.status === 1 && answer === 'unreadable') {
    const by = identity.user ? ` (zel runs as root, so the user ${identity.user} loads it: make the file readable by others)` : '';
    return `${file}: file not found or not readable${named}; ${hintFor(file, addon().messages.fileNotFound)}${by}`;
  }
  if (!child.signal && child.status === 1 && answer) {
    const loaded = `./${path.basename(file)}: `;
    const text = answer.startsWith(loaded) ? answer.slice(loaded.length) : answer;
    const hint = hintFor(`${file}: ${text}`);  // the loader's text
    return `${file}: ${text}${named}${hint ? `; ${hint}` : ''}`;
  }
  let how = `crashed (${child.signal}) while being loaded and its object made`;
  if (child.timedOut) how = `did not finish loading within ${limitMs / 1000} s`;
  else if (!child.signal) how = `ended the process (status ${child.status}) while being loaded`;
  return `${file}: ${how}${named}; the engine would fail its host the same way: ` +
    'look at its static data, its constructor and its destructor';
}

// A fresh directory that anyone may read, holding script_probe.js and the
// one file of zel it requires, laid out as in lib/: the child reads its
// script as the unprivileged user, and zel may be installed below a
// directory only root may pass (/root). The caller removes it.
function readableProbe() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-probe-'));
  const files = [['cli/script_probe.js', path.join(__dirname, 'script_probe.js')],
    ['script_modules.js', path.join(__dirname, '..', 'script_modules.js')]];
  fs.mkdirSync(path.join(dir, 'cli'));
  for (const [name, from] of files) fs.copyFileSync(from, path.join(dir, name));
  // Set whatever the umask or the package's own modes are.
  for (const name of ['.', 'cli']) fs.chmodSync(path.join(dir, name), 0o755);
  for (const [name] of files) fs.chmodSync(path.join(dir, name), 0o644);
  return dir;
}

// What is wrong with the JavaScript module `file`, loaded and called once
// with `sample` in a confined child (script_probe.js), as one problem line
// "FILE:LINE: what; what to do", or null.
async function scriptProblem({ kind, file, where, sample }, { limitMs, identity }) {
  const probeDir = readableProbe();
  let child;
  try {
    child = await runConfined(process.execPath,
      [path.join(probeDir, 'cli', 'script_probe.js'), kind, file, sample || 'sample'],
      { limitMs, identity, cwd: path.dirname(file) });
  } finally {
    fs.rmSync(probeDir, { recursive: true, force: true });
  }
  if (child.error) throw new Error(`cannot run ${process.execPath}: ${child.error.message}`);
  const answer = child.stdout.trimEnd().split('\n').pop() || '';
  if (!child.signal && child.status === 0 && answer === 'ok') return null;
  const named = where ? ` (named by ${where})` : '';
  const [line, text] = answer.includes('\t') ? answer.split('\t') : ['', ''];
  if (text) return `${file}${line ? `:${line}` : ''}: ${text}${named}`;
  const how = child.timedOut ? `did not answer within ${limitMs / 1000} s` : 'ended its process';
  return `${file}: ${how} while loaded and called once${named}; look at its top-level code and its entry`;
}

// Every problem of the built pack in `packDir` (NAME.zel, NAME/, korrin_linux/
// as zel_add_pack lays it out): its forms, and its modules and syntax modules
// loaded one by one with `settings` (loadSettings()'s).
async function packProblems(packDir, syntaxFile, settings) {
  const name = path.basename(syntaxFile, '.zel');
  const { modules, problems } = formsOf(path.join(packDir, syntaxFile), path.join(packDir, name));
  const syntaxDir = path.join(packDir, 'korrin_linux');
  for (const file of syntaxModulesIn(syntaxDir)) modules.push({ kind: 'syntax-module', file });
  for (const module of modules) {
    const problem = await loadProblem(module, settings);
    if (problem) problems.push(problem);
  }
  return problems;
}

module.exports = { syntaxModulesIn, loadLimitOption, loadSettings, probeRows, formsOf, loadProblem, packProblems };
