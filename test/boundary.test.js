'use strict';
// The add-on in a Node host facing modules that call back into the engine
// and a module rebuilt in place: the host survives and exits cleanly.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const zel = require(root);
const fixtures = path.join(root, 'build', 'test', 'fixtures');

// An application whose syntax module is `syntaxModule`, with a "calc" pack:
// "print" echoes, "reenter" runs its statement's tail through the engine.
function makeApp(syntaxModule) {
  const app = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-node-'));
  const put = (rel, from) => {
    const target = path.join(app, 'node_modules', rel);
    fs.mkdirSync(path.dirname(target), { recursive: true });
    fs.copyFileSync(path.join(fixtures, from + '.so'), target);
  };
  put(`korrin_linux/${syntaxModule}.so`, syntaxModule);
  put('calc/printer.so', 'echo_module');
  put('calc/again.so', 'reentrant_module');
  fs.mkdirSync(path.join(app, 'node_modules', 'zel_linux'));
  fs.writeFileSync(path.join(app, 'node_modules', 'zel_linux', 'lang.conf'), ':4:M4 :E1:\n:21:STOP-NOW\n');
  const syntax = path.join(app, 'node_modules', 'calc.zel');
  fs.writeFileSync(syntax, 'reenter (again)\nnested (printer)\nprint (printer)\n');
  test.after(() => fs.rmSync(app, { recursive: true, force: true }));
  return { app, syntax };
}

test('a pack module and a syntax module may call back into the engine', () => {
  const pack = makeApp('keyword_syntax');
  for (let round = 0; round < 2; round++) {
    assert.strictEqual(zel.Commandes(pack.app, 'reenter print inner;', pack.syntax),
      `outer saw [ran ${pack.syntax};print inner;]`);
  }
  assert.strictEqual(zel.Commandes(pack.app, 'print after;', pack.syntax), `ran ${pack.syntax};print after;`);

  const lib = makeApp('reentrant_syntax');
  const statement = `nested ${lib.syntax};`;
  assert.strictEqual(zel.Commandes(lib.app, statement, lib.syntax), `ran ${lib.syntax};${statement}`);
  assert.strictEqual(zel.Commandes(lib.app, 'print after;', lib.syntax), `ran ${lib.syntax};print after;`);
});

test('a module written over in place is refused, and the host exits cleanly', () => {
  const { app, syntax } = makeApp('keyword_syntax');
  const module = path.join(app, 'node_modules', 'calc', 'printer.so');
  const script = `
    const fs = require('node:fs');
    const zel = require(${JSON.stringify(root)});
    const [app, syntax, module, replacement] = ${JSON.stringify([app, syntax, module,
      path.join(fixtures, 'statement_module.so')])};
    console.log(zel.Commandes(app, 'print a;', syntax));
    fs.writeFileSync(module, fs.readFileSync(replacement));  // same inode
    console.log(zel.Commandes(app, 'print b;', syntax));
    process.on('exit', () => console.log('exit handler ran'));`;
  const run = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8' });
  assert.strictEqual(run.status, 0, run.stderr);
  assert.strictEqual(run.signal, null);
  const lines = run.stdout.split('\n');
  assert.strictEqual(lines[0], `ran ${syntax};print a;`);
  assert.match(lines[1], /printer\.so changed on disk after this process loaded it/);
  assert.strictEqual(lines[2], 'exit handler ran');
});

test('zel repl confines what it is told to declare, as a program header', () => {
  const { app, syntax } = makeApp('keyword_syntax');
  const outside = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-outside-'));
  test.after(() => fs.rmSync(outside, { recursive: true, force: true }));
  fs.writeFileSync(path.join(outside, 'evil.zel'), 'print (../../../evil)\n');
  fs.symlinkSync(outside, path.join(app, 'node_modules', 'mylib'));
  fs.appendFileSync(path.join(app, 'node_modules', 'zel_linux', 'lang.conf'), ':1:Cannot open :E1:\n');
  const declarations = [`:s:${path.join(outside, 'evil.zel')};`, ':s:../../etc/x.zel;',
    ':s:mylib/../../x.zel;'];
  const input = [':s:calc.zel;', ...declarations, 'print inside;', ':s:mylib/evil.zel;'].join('\n');
  const r = spawnSync(process.execPath, [path.join(root, 'bin', 'zel'), 'repl', '--app', app],
    { input, encoding: 'utf8' });
  // A refused declaration is a failure.
  assert.strictEqual(r.status, 1, r.stderr);
  // Each refused declaration leaves the pack as it was; a link the author
  // placed inside node_modules is still followed.
  assert.strictEqual(r.stdout, `ran ${path.relative(app, syntax)};print inside;\n`);
  assert.strictEqual(r.stderr.split('\n').filter((l) => l.startsWith('Cannot open')).length, 3, r.stderr);
});
