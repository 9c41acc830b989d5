'use strict';
// Looking at packs and modules without running them, for "zel check" and
// "zel add-pack": zel-probe reads the forms as the engine does and loads each
// module in a process of its own. Every problem is one line, "FILE:LINE:
// what is wrong; what to do" (no LINE for a module file).
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { nativeFile } = require('../addon');
const { hintFor } = require('./hints');

// How long one module may take to load and make its object.
const loadTimeoutMs = 10000;

// Runs zel-probe with `args`; exits with status 1 when it cannot run.
function probe(args) {
  const probePath = nativeFile('zel-probe');
  if (!probePath) {
    process.stderr.write('zel: zel-probe is not built; run "npm rebuild zel" (or "npm run build") first\n');
    process.exit(1);
  }
  const child = spawnSync(probePath, args, { encoding: 'utf8', timeout: loadTimeoutMs, killSignal: 'SIGKILL' });
  if (child.error && child.error.code !== 'ETIMEDOUT') {
    process.stderr.write(`zel: cannot run ${probePath}: ${child.error.message}\n`);
    process.exit(1);
  }
  return child;
}

// zel-probe's answer to `args` as rows of tab-separated fields.
function probeRows(args) {
  return probe(args).stdout.split('\n').filter(Boolean).map((line) => line.split('\t'));
}

// The forms of the pack file `pack`, whose modules live in `moduleDir`:
// { modules: [{ kind, file, where }], problems: [line] }.
function formsOf(pack, moduleDir) {
  const modules = [];
  const problems = [];
  const shown = path.basename(pack);
  for (const [kind, first, second] of probeRows(['forms', pack, moduleDir])) {
    if (kind === 'module') {
      modules.push({ kind, file: first, where: `${shown}:${second}` });
    } else if (kind === 'no-module') {
      problems.push(`${pack}:${first}: the form "${second}" names no module; end the line with the ` +
        'module that runs it in parentheses, as in "say <text> (say)"');
    } else if (kind === 'outside-module') {
      problems.push(`${pack}:${first}: the module "${second}" is not a file inside ` +
        `${path.basename(moduleDir)}/, so the engine never loads it; name a file below it, without ".so"`);
    }
  }
  return { modules, problems };
}

// What is wrong with loading the module `file` (kind "module" or
// "syntax-module"), as one problem line, or null when it loads.
function loadProblem({ kind, file, where }) {
  const child = probe(['load', kind, file]);
  const answer = child.stdout.trim().split('\n').pop() || '';
  const named = where ? ` (named by ${where})` : '';
  if (!child.signal && child.status === 0 && answer === 'ok') return null;
  if (!child.signal && child.status === 1 && answer) {
    const text = answer.startsWith(`${file}: `) ? answer.slice(file.length + 2) : answer;
    const hint = hintFor(`${file}: ${text}`);
    return `${file}: ${text}${named}${hint ? `; ${hint}` : ''}`;
  }
  let how = `crashed (${child.signal}) while being loaded and its object made`;
  if (child.error && child.error.code === 'ETIMEDOUT') how = `did not finish loading within ${loadTimeoutMs / 1000} s`;
  else if (!child.signal) how = `ended the process (status ${child.status}) while being loaded`;
  return `${file}: ${how}${named}; the engine would fail its host the same way: ` +
    'look at its static data, its constructor and its destructor';
}

// Every problem of the built pack in `packDir` (NAME.zel, NAME/, korrin_linux/
// as zel_add_pack lays it out): its forms, and its modules and syntax modules
// loaded one by one.
function packProblems(packDir, syntaxFile) {
  const name = path.basename(syntaxFile, '.zel');
  const { modules, problems } = formsOf(path.join(packDir, syntaxFile), path.join(packDir, name));
  const syntaxDir = path.join(packDir, 'korrin_linux');
  const syntaxModules = fs.existsSync(syntaxDir)
    ? fs.readdirSync(syntaxDir).filter((f) => f.endsWith('.so')).map((f) => path.join(syntaxDir, f))
    : [];
  for (const file of syntaxModules) modules.push({ kind: 'syntax-module', file });
  for (const module of modules) {
    const problem = loadProblem(module);
    if (problem) problems.push(problem);
  }
  return problems;
}

module.exports = { probeRows, formsOf, loadProblem, packProblems };
