'use strict';
// Pack and syntax modules written in JavaScript, run by the classic
// exports: the same answers as their C++ twins, a failure text naming the
// module for each way a module can go wrong, and an edited file used as
// edited.
const test = require('node:test');
require('./support/time_limit').timeLimit(120);
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const zel = require(root);
const { makeScratchApp } = require('./support/scratch_app');

const apps = [];
test.after(() => apps.forEach((app) => fs.rmSync(app, { recursive: true, force: true })));

// The sample application with the calculator's forms once more as the pack
// "jscalc", whose modules are the JavaScript ones of examples/calculator/js.
function twinApp() {
  const app = fs.mkdtempSync(path.join(require('node:os').tmpdir(), 'zel-js-'));
  apps.push(app);
  fs.cpSync(path.join(root, 'build', 'sample'), app, { recursive: true });
  const modules = path.join(app, 'node_modules');
  fs.mkdirSync(path.join(modules, 'jscalc'));
  for (const name of ['vars', 'say']) {
    fs.copyFileSync(path.join(root, 'examples', 'calculator', 'js', `${name}.js`),
      path.join(modules, 'jscalc', `${name}.js`));
  }
  const forms = fs.readFileSync(path.join(modules, 'calculator.zel'), 'utf8');
  fs.writeFileSync(path.join(modules, 'jscalc.zel'), `${forms}bad <text> (bad)\n`);
  return { app, modules };
}

test('a JavaScript pack answers as its C++ twin', () => {
  const { app, modules } = twinApp();
  const statements = ['set x to 2;', 'add 0.1 to x;', 'multiply x by 1e20;', 'add 1 to nothing;',
    'set y to -0.00001234;', 'set y to nope;'];
  const answers = (pack) => statements.map((s) => zel.Commandes(app, s, path.join(modules, pack)));
  assert.deepStrictEqual(answers('jscalc.zel'), answers('calculator.zel'));
  const program = (pack) => {
    const file = path.join(app, `${pack}.txt`);
    fs.writeFileSync(file, `:s:${pack}.zel;\nset a to 1;\nadd 41 to a;\n`);
    return zel.Executer(app, file);
  };
  assert.strictEqual(program('jscalc'), program('calculator'));
  assert.strictEqual(program('jscalc'), 'a = 42');
});

test('a failing JavaScript module fails its statement with a text naming it', () => {
  const { app, modules } = twinApp();
  const file = path.join(modules, 'jscalc', 'bad.js');
  // [case, the module's source (written over the previous one), its answer]
  const rows = [
    ['answers a string', 'exports.execute = () => "fine";', /^fine$/],
    ['throws', 'exports.execute = () => {\n  throw new RangeError("boom");\n};', /bad\.js threw \(line 2\): RangeError: boom$/],
    ['returns a promise', 'exports.execute = async () => "late";', /bad\.js returned a promise: .*synchronously/],
    ['returns a number', 'exports.execute = () => 42;', /bad\.js returned a number, not a string/],
    ['exports no execute', 'exports.run = () => "";', /bad\.js exports no execute function: add "exports\.execute = /],
    ['does not parse', '\nexports.execute = () => {;', /bad\.js does not load \(line 2\): SyntaxError: .*"zel check"/],
    ['edited to answer again', 'exports.execute = () => "fine again";', /^fine again$/],
  ];
  for (const [name, source, answer] of rows) {
    fs.writeFileSync(file, source);
    assert.match(zel.Commandes(app, 'bad x;', path.join(modules, 'jscalc.zel')), answer, name);
  }
});

test('a JavaScript syntax module decides forms as its C++ twin, with each marker', () => {
  const forms = 'kw0 (echo)\nmarked x (echo)\nkw1 <x> (echo)\n';
  const native = makeScratchApp({ tag: 'js-syntax', modules: { echo: 'echo_module' }, forms });
  const script = makeScratchApp({ tag: 'js-syntax', modules: { echo: 'echo_module' }, forms });
  apps.push(native.app, script.app);
  const lib = path.join(script.app, 'node_modules', 'korrin_linux');
  fs.rmSync(path.join(lib, 'keyword_syntax.so'));
  fs.writeFileSync(path.join(lib, 'keyword.js'), `
const first = (text) => text.split(' ')[0];
exports.check = (pattern, statement) => {
  const word = first(statement);
  if (word === 'lex') return '(LEX)bad word in ' + statement;
  if (word === 'nf') return '(NF)';
  if (word === 'nm') return '(NM)try another form';
  if (first(pattern) === 'marked') return '(NF)';
  return word === first(pattern) ? statement : '';
};`);
  const statements = ['kw0;', 'kw1 a;', 'lex a;', 'nf;', 'nm;', 'zz;'];
  const answers = ({ app, syntax }) =>
    statements.map((s) => zel.Commandes(app, s, syntax).replace(app, 'APP'));
  const seen = answers(script);
  assert.deepStrictEqual(seen, answers(native));
  assert.strictEqual(new Set(seen).size, statements.length);  // every marker told apart
});
