'use strict';
// The add-on seen from JavaScript: argument conversion, results, the three
// exports end to end, the stop test and engine exceptions.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const zel = require(root);
const { makeScratchApp } = require('./support/scratch_app');

// A scratch application with a "calc" pack: print, add, stop and boom forms.
function makeApp() {
  return makeScratchApp({
    tag: 'node',
    modules: { printer: 'echo_module', adder: 'statement_module', halt: 'stop_module',
      thrower: 'throwing_module' },
    forms: 'print (printer)\nadd (adder)\nstop (halt)\nboom (thrower)\n42 (printer)\n',
  });
}

const { app, syntax } = makeApp();
test.after(() => fs.rmSync(app, { recursive: true, force: true }));

test('exports the three functions without names of their own', () => {
  // The promise API follows the classic three.
  assert.deepStrictEqual(Object.keys(zel),
    ['Compiler', 'Executer', 'Commandes', 'run', 'exec', 'compile', 'ZelError', 'createPool',
      'createQueue', 'createWorker']);
  for (const f of [zel.Compiler, zel.Executer, zel.Commandes]) assert.strictEqual(f.name, '');
  assert.deepStrictEqual(Object.keys(require(path.join(root, 'build', 'Release', 'zel.node'))),
    ['Compiler', 'Executer', 'Commandes']);
});

test('the promise API and the pool load at their first call, not with the package', () => {
  // What require.cache holds of lib/ after a classic call, then after exec.
  const script = `const zel = require(${JSON.stringify(root)});
    const lib = () => Object.keys(require.cache).filter((f) => f.includes('/lib/'))
      .map((f) => f.slice(f.lastIndexOf('/') + 1)).sort().join(' ');
    zel.Commandes(${JSON.stringify(app)}, 'print x;', ${JSON.stringify(syntax)});
    const first = lib();
    zel.exec(${JSON.stringify(app)}, 'print x;', ${JSON.stringify(syntax)})
      .then(() => console.log(first + '|' + lib()));`;
  const child = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8' });
  assert.strictEqual(child.stdout.trim(), 'addon.js zel_error.js|addon.js errors.js promise.js user_text.js zel_error.js');
});

test('arguments are converted as JavaScript converts them to strings', () => {
  // A missing syntax path reaches the engine as "undefined".
  assert.strictEqual(zel.Commandes(app, 'print x;'), 'M1 undefined');
  assert.strictEqual(zel.Commandes(app, 42, syntax), `ran ${syntax};42`);
  assert.strictEqual(zel.Commandes(app, 'print x;', syntax, 'ignored'), `ran ${syntax};print x;`);
  assert.strictEqual(zel.Commandes(app, { toString: () => 'print obj;' }, syntax),
    `ran ${syntax};print obj;`);
  // With no arguments at all, the application directory is "undefined" too.
  assert.match(zel.Executer(), /^Lecture des reponses impossible \(LANG\)\.\n {4}->undefined\/node_modules/);
});

test('non-ASCII text and zero bytes cross the boundary unchanged', () => {
  const statement = 'print h\u00e9llo \u20ac \u{1F600};';
  assert.strictEqual(zel.Commandes(app, statement, syntax), `ran ${syntax};${statement}`);
  assert.strictEqual(zel.Commandes(app, 'print a\0b;', syntax), `ran ${syntax};print a\0b;`);
});

test('a value that cannot become a string throws after the call', () => {
  assert.throws(() => zel.Commandes(app, Symbol('x'), syntax), TypeError);
  assert.strictEqual(zel.Commandes(app, 'print next;', syntax), `ran ${syntax};print next;`);
});

test('a module exception becomes a JavaScript Error and the next call works', () => {
  assert.throws(() => zel.Commandes(app, 'boom now;', syntax), {
    name: 'Error', message: /module failed on .*;boom now;/,
  });
  assert.strictEqual(zel.Commandes(app, 'print after;', syntax), `ran ${syntax};print after;`);
});

test('a compiled program runs like its source, in the same process', () => {
  // [source file, its text, the result of its last statement, compiled lines]
  const cases = [
    ['sums', '## sums of a few numbers\n(CZEL)calc.zel;\nprint the first one;\n' +
      'add 1 and 2 and 3\n and 4 and 5 and 6;\nadd 40 and 2 and 0;\n', 'did add 40 and 2 and 0', 7],
    ['adds', '## adds numbers, line after line\n(CZEL)calc.zel;\nadd 1 and 2 and 3;\n' +
      'add 40 and 2 more;\n', 'did add 40 and 2 more', 5],
  ];
  // The request log goes to the working directory.
  process.chdir(app);
  for (const [name, text, last, lines] of cases) {
    const source = path.join(app, `${name}.txt`);
    fs.writeFileSync(source, text);
    // The first module result of a process is held back; spend it first.
    zel.Executer(app, source);
    const plain = zel.Executer(app, source);
    assert.strictEqual(plain, last);
    assert.strictEqual(zel.Compiler(source, '.zel'), 'M10');
    assert.strictEqual(fs.readFileSync(path.join(app, `${name}.zel`), 'latin1').split('\n').length, lines);
    assert.strictEqual(fs.readFileSync(path.join(app, 'requests.log'), 'utf8'), 'M10\n');
    assert.strictEqual(zel.Executer(app, path.join(app, `${name}.zel`)), plain);
  }
  assert.strictEqual(zel.Compiler(path.join(app, 'missing.txt'), '.zel'),
    `M4 ${path.join(app, 'missing.txt')}`);
});

