'use strict';
// A module that crashes the command line's process is noted on standard
// error, and the process still dies of the signal; the host's own signal
// handling (WebAssembly's traps) is left intact.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { spawn, spawnSync } = require('node:child_process');
const { makeScratchApp } = require('./support/scratch_app');
const { untilSleeping } = require('./support/sleeping');

const root = path.join(__dirname, '..');
const { app } = makeScratchApp({
  tag: 'crash',
  modules: { crash: 'segv_module', printer: 'echo_module', again: 'reentrant_module', loadcrash: 'crash_on_load',
    nap: 'sleep_module' },
  forms: 'crash (crash)\nprint (printer)\nrecrash (again)\nloadcrash (loadcrash)\nsleep (nap)\n',
});
fs.writeFileSync(path.join(app, 'ok.txt'), ':s:calc.zel;\nprint a;\n');
fs.writeFileSync(path.join(app, 'prog.txt'), ':s:calc.zel;\nprint a;\ncrash now;\n');
// Shown relative to the home, as the outcome's texts show paths.
const crashModule = 'node_modules/calc/crash.so';
const loadCrashModule = 'node_modules/calc/loadcrash.so';
const runNote = `zel run: prog.txt:3: the module ${crashModule} crashed (SIGSEGV)\n`;
test.after(() => fs.rmSync(app, { recursive: true, force: true }));

const node = (args) => spawnSync(process.execPath, args, { cwd: app, encoding: 'utf8' });

test('run and exec note a module crash, and die of its signal', () => {
  const cases = [
    [['run', 'prog.txt'], runNote],
    [['exec', 'crash now;', '--syntax', 'calc.zel'], `zel exec: the module ${crashModule} crashed (SIGSEGV)\n`],
    // Its static data crashes while it is being loaded.
    [['exec', 'loadcrash now;', '--syntax', 'calc.zel'], `zel exec: the module ${loadCrashModule} crashed (SIGSEGV)\n`],
    // It crashes after running a statement through the engine itself.
    [['exec', 'recrash print a;', '--syntax', 'calc.zel'],
      'zel exec: the module node_modules/calc/again.so crashed (SIGSEGV)\n'],
  ];
  for (const [args, note] of cases) {
    const r = node([path.join(root, 'bin', 'zel'), ...args]);
    assert.deepStrictEqual([r.stderr, r.signal], [note, 'SIGSEGV'], args[0]);
  }
});

test('with the crash handlers in place, WebAssembly traps still reach JavaScript', () => {
  // (module (memory 1) (func (export "load") (param i32) (result i32) local.get 0 i32.load))
  const wasm = [0, 97, 115, 109, 1, 0, 0, 0, 1, 6, 1, 96, 1, 127, 1, 127, 3, 2, 1, 0, 5, 3, 1, 0, 1,
    7, 8, 1, 4, 108, 111, 97, 100, 0, 0, 10, 9, 1, 7, 0, 32, 0, 40, 2, 0, 11];
  const r = node(['-e', `
    const run = require(${JSON.stringify(path.join(root, 'lib', 'cli', 'run.js'))}).command;
    const { load } = new WebAssembly.Instance(new WebAssembly.Module(Uint8Array.from(${JSON.stringify(wasm)}))).exports;
    run(['ok.txt']).then(() => {
      try { load(1 << 20); } catch (error) { console.log(error.name); }
      return run(['prog.txt']);
    });`]);
  assert.deepStrictEqual([r.stdout, r.stderr, r.signal],
    ['ran ok.txt;print a;\nRuntimeError\n', runNote, 'SIGSEGV']);
});

test('a fault signal another process sends during a module call ends zel by that signal', async () => {
  for (const signal of ['SIGILL', 'SIGBUS', 'SIGFPE', 'SIGABRT']) {
    const child = spawn(process.execPath, [path.join(root, 'bin', 'zel'), 'exec', 'sleep 20000;', '--syntax', 'calc.zel'],
      { cwd: app, stdio: 'ignore' });
    const ended = new Promise((resolve) => child.once('exit', (code, by) => resolve([code, by])));
    await untilSleeping(child.pid);
    child.kill(signal);
    assert.deepStrictEqual(await ended, [null, signal]);
  }
});
