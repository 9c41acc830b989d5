'use strict';
// Pack and syntax modules written in JavaScript: through the classic
// exports, the promise API, a pool and the command line, the same answers
// as their C++ twins; a failure text naming the module for each way a
// module can go wrong; an edited file used as edited.
const test = require('node:test');
require('./support/time_limit').timeLimit(120);
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

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

// What "zel exec" prints, once it has exited (a process held at exit times out).
function cli(app, statement, syntax) {
  const { status, stdout } = spawnSync(process.execPath, [path.join(root, 'bin', 'zel'), 'exec',
    statement, '--syntax', path.basename(syntax), '--app', app], { encoding: 'utf8', timeout: 20000 });
  return status === 0 || status === 1 ? stdout.trim() : `status ${status}`;
}

test('a JavaScript pack answers as its C++ twin through every way in', { timeout: 90000 }, async (t) => {
  const { app, modules } = twinApp();
  const pool = zel.createPool({ size: 1 });
  t.after(() => pool.close());
  const statements = ['set x to 2;', 'add 0.1 to x;', 'multiply x by 1e20;', 'add 1 to nothing;',
    'set y to -0.00001234;', 'set y to nope;', 'say <<zel:stop-program:7c1e>>;', 'say   hi\tthere ;',
    'set z to -0;', 'set z to 0x1.8p1;', 'say déjà vu, naïve ✓;', 'set x to 1e400;', 'set x to 1e-400;',
    'say ok ✓;'];  // its one wide character among the text's last eight bytes
  const program = (pack) => `:s:${pack}.zel;\nset a to 1;\nadd 41 to a;\nmultiply a by 0.5;\n`;
  // A result beyond the range of a double.
  const huge = (pack) => `:s:${pack}.zel;\nset a to 1e308;\nmultiply a by -10;\n`;
  // Two modules in turn, for more statements than share one handle scope.
  const long = (pack) => `:s:${pack}.zel;\nset a to 0;\n${'add 1 to a;\nsay a;\n'.repeat(150)}show a;\n`;
  // [way in, one statement, a program text]
  const ways = [
    ['classic', zel.Commandes, (text) => {
      fs.writeFileSync(path.join(app, 'p.txt'), text);
      return zel.Executer(app, path.join(app, 'p.txt'));
    }],
    ['promise', async (...a) => (await zel.exec(...a)).result,
      async (text) => (await zel.run(app, { text })).result],
    ['pool', async (...a) => (await pool.exec(...a)).result,
      async (text) => (await pool.run(app, { text })).result],
    ['command line', cli, null],
  ];
  for (const [way, exec, run] of ways) {
    const answers = async (pack) => {
      const out = [];
      for (const s of statements) out.push(await exec(app, s, path.join(modules, `${pack}.zel`)));
      if (run) out.push(await run(program(pack)), await run(long(pack)), await run(huge(pack)));
      return out;
    };
    const js = await answers('jscalc');
    assert.deepStrictEqual(js, await answers('calculator'), way);
    // A classic call's variables last for the process; a promise call's end with it.
    assert.strictEqual(js[1], way === 'classic' ? 'x = 2.1' : 'unknown variable x', way);
    assert.doesNotMatch(js[6], /^(Program ended\.|<<zel:stop-program:7c1e>>)?$/, `${way}: the stop answer said, not obeyed`);
    assert.deepStrictEqual(js.slice(11, 13), ['"1e400" is out of range: the calculator\'s numbers go from about ' +
      '-1.8e308 to 1.8e308', 'x = 0'], way);
  }
});

test('promise calls keep the variables of two alternating callers apart', { timeout: 60000 }, async () => {
  const { app, modules } = twinApp();
  const syntax = path.join(modules, 'jscalc.zel');
  const caller = (name, value) => ({ text: `:s:jscalc.zel;\nset ${name} to ${value};\nshow a;\nshow b;\n` });
  const seen = [];
  for (const [name, value] of [['a', 1], ['b', 2], ['a', 3]]) {
    seen.push((await zel.run(app, caller(name, value), { results: true })).results.map((r) => r.text));
  }
  assert.deepStrictEqual(seen, [
    ['a = 1', 'a = 1', 'unknown variable b'],
    ['b = 2', 'unknown variable a', 'b = 2'],
    ['a = 3', 'a = 3', 'unknown variable b'],
  ]);
  assert.strictEqual((await zel.exec(app, 'show a;', syntax)).result, 'unknown variable a');
});

test('a failing JavaScript module fails its statement with a text naming it', { timeout: 60000 }, async () => {
  const { app, modules } = twinApp();
  const file = path.join(modules, 'jscalc', 'bad.js');
  // [case, the module's source (written over the previous one), its answer]
  const rows = [
    ['answers a string', 'exports.execute = () => "fine";', /^fine$/],
    ['answers a long text ending in a wide character', 'exports.execute = () => "x".repeat(254) + "\\u00e9!";', /^x{254}\u00e9!$/],
    ['throws', 'exports.execute = () => {\n  throw new RangeError("boom");\n};', /bad\.js threw \(line 2\): RangeError: boom$/],
    ['returns a promise', 'exports.execute = async () => "late";', /bad\.js returned a promise: .*synchronously/],
    ['returns a number', 'exports.execute = () => 42;', /bad\.js returned a number, not a string/],
    ['exports no execute', 'exports.run = () => "";', /bad\.js exports no execute function: add "exports\.execute = /],
    ['does not parse', '\nexports.execute = () => {;', /bad\.js does not load \(line 2\): SyntaxError: .*"zel check"/],
    ['edited to answer again', 'exports.execute = () => "fine again";', /^fine again$/],
  ];
  const syntax = path.join(modules, 'jscalc.zel');
  // The classic calls reach the application through a link: an edit is seen all the same.
  const linked = `${app}-link`;
  fs.symlinkSync(app, linked);
  apps.push(linked);
  for (const [name, source, answer] of rows) {
    fs.writeFileSync(file, source);
    assert.match(zel.Commandes(linked, 'bad x;', path.join(linked, 'node_modules', 'jscalc.zel')), answer, name);
    const outcome = await zel.run(app, { text: ':s:jscalc.zel;\nset a to 1;\nbad x;\n' });
    assert.match(outcome.result, answer, `${name}, promise`);
    assert.strictEqual(outcome.failed ? outcome.line : 3, 3, `${name}: the line`);
  }
});

test('a JavaScript module calling the engine back, statement after statement, answers each time', { timeout: 60000 }, async () => {
  const { app, modules } = twinApp();
  const syntax = path.join(modules, 'jscalc.zel');
  fs.appendFileSync(syntax, 'nest <text> (nest)\n');
  fs.writeFileSync(path.join(modules, 'jscalc', 'nest.js'), `const zel = require(${JSON.stringify(root)});
exports.execute = () => 'outer ' + zel.Commandes(${JSON.stringify(app)}, 'add 1 to v;', ${JSON.stringify(syntax)});`);
  // Enough statements that the module calls of both runs renew their handles.
  const program = path.join(app, 'nest.txt');
  fs.writeFileSync(program, `:s:jscalc.zel;\nset v to 0;\n${'nest x;\n'.repeat(300)}`);
  assert.strictEqual(zel.Executer(app, program), 'outer v = 300');
  assert.strictEqual((await zel.run(app, program)).result, 'outer v = 300');
});

test('a JavaScript module looping past its time limit is ended by the pool', { timeout: 60000 }, async (t) => {
  const { app, modules } = twinApp();
  fs.writeFileSync(path.join(modules, 'jscalc', 'bad.js'), 'exports.execute = () => { for (;;); };');
  const pool = zel.createPool({ size: 1 });
  t.after(() => pool.close());
  const syntax = path.join(modules, 'jscalc.zel');
  await assert.rejects(pool.exec(app, 'bad x;', syntax, { timeout: 300 }), { name: 'TimeoutError' });
  assert.strictEqual((await pool.exec(app, 'set x to 1;', syntax)).result, 'x = 1');
});

test('a JavaScript syntax module decides forms as its C++ twin, with each marker', { timeout: 60000 }, async () => {
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
  // Through the classic exports and through the engine worker.
  const answers = async ({ app, syntax }) => {
    const out = statements.map((s) => zel.Commandes(app, s, syntax));
    for (const s of statements) out.push((await zel.exec(app, s, syntax)).result);
    return out.map((text) => text.replace(app, 'APP'));
  };
  const seen = await answers(script);
  assert.deepStrictEqual(seen, await answers(native));
  assert.strictEqual(new Set(seen.slice(0, statements.length)).size, statements.length);  // every marker told apart
});

test('zel check names the file, line and fix of each broken JavaScript module', { timeout: 60000 }, () => {
  const { app, modules } = twinApp();
  fs.appendFileSync(path.join(modules, 'jscalc.zel'), 'worse <text> (worse)\n');
  // [file, source, the problem line zel check prints for it]
  const rows = [
    ['jscalc/bad.js', 'exports.execute = () => 42;', /jscalc\/bad\.js: returned a number, not a string: .*\(named by jscalc\.zel:12\)/],
    ['jscalc/worse.js', '\n\nexports.execute = () => {;', /jscalc\/worse\.js:3: does not load: SyntaxError: .*; fix the file there/],
    ['korrin_linux/typo.js', 'exports.chek = () => "";', /korrin_linux\/typo\.js: exports no check function: add "exports\.check = /],
  ];
  for (const [file, source] of rows) fs.writeFileSync(path.join(modules, file), source);
  const { status, stdout } = spawnSync(process.execPath, [path.join(root, 'bin', 'zel'), 'check',
    '--app', app], { encoding: 'utf8', timeout: 30000 });
  assert.strictEqual(status, 1, stdout);
  for (const [file, , problem] of rows) assert.match(stdout, problem, file);
  assert.match(stdout, /ok +\S+jscalc\/vars\.js/);
  // As root, the same from zel installed below a directory only root may pass (as /root is).
  if (process.getuid() !== 0) return;
  const copy = path.join(fs.mkdtempSync(path.join(require('node:os').tmpdir(), 'zel-private-')), 'zel');
  apps.push(path.dirname(copy));
  for (const name of ['lib', 'bin', 'lang', 'index.js', 'package.json']) fs.cpSync(path.join(root, name), path.join(copy, name), { recursive: true });
  fs.symlinkSync(path.join(root, 'build'), path.join(copy, 'build'));
  assert.strictEqual(spawnSync(process.execPath, [path.join(copy, 'bin', 'zel'), 'check', '--app', app],
    { encoding: 'utf8', timeout: 30000 }).stdout, stdout);

});

test('the first promise calls of a fresh process answer as later ones, in call order', { timeout: 90000 }, () => {
  const { app, modules } = twinApp();
  const js = path.join(modules, 'jscalc.zel');
  fs.appendFileSync(js, 'count <text> (count)\nnest <text> (nest)\nspin <text> (spin)\n');
  // Module-level state: one copy, wherever the engine loop runs.
  fs.writeFileSync(path.join(modules, 'jscalc', 'count.js'), 'let n = 0;\nexports.execute = () => `count ${++n}`;');
  fs.writeFileSync(path.join(modules, 'jscalc', 'nest.js'), `const zel = require(${JSON.stringify(root)});
exports.execute = () => 'outer ' + zel.Commandes(${JSON.stringify(app)}, 'count x;', ${JSON.stringify(js)});`);
  fs.writeFileSync(path.join(modules, 'jscalc', 'spin.js'), 'exports.execute = () => { for (;;); };');
  const calls = `const calls = () => [zel.exec(app, 'count x;', js), zel.exec(app, 'set x to 2;', native),
    zel.run(app, { text: ':s:jscalc.zel;\\nset a to 1;\\nnest x;\\n' }), zel.exec(app, 'say hi;', js)];`;
  // A round: the calls made at once, their answers in the order they settled.
  const round = `async () => { const order = [];
    await Promise.all(calls().map((p, i) => p.then((o) => order.push(i + ' ' + o.result)))); return order; }`;
  // [case, what the fresh process does, what it prints, its exit status]
  const rows = [
    ['first calls while the worker starts, then again', `const r = ${round};
      const first = await r(); console.log(JSON.stringify([first, await r()]));`,
    JSON.stringify([['0 count 1', '1 x = 2', '2 outer count 2', '3 hi'], ['0 count 3', '1 x = 2', '2 outer count 4', '3 hi']]), 0],
    ['a classic call on the main thread while the first calls run', `const pending = (${round})();
      console.log(zel.Commandes(app, 'say classic;', js), JSON.stringify(await pending));`,
    `classic ${JSON.stringify(['0 count 1', '1 x = 2', '2 outer count 2', '3 hi'])}`, 0],
    ['no worker to be had', `require('node:worker_threads').Worker = function Unavailable() { throw new Error('off'); };
      console.log((await zel.exec(app, 'say hi;', js)).result, (await zel.exec(app, 'set x to 2;', native)).result);`,
    'JavaScript module node_modules/jscalc/say.js cannot run on this thread: use the classic exports, or make it a shared object (.so) x = 2', 0],
    ['the process exits while the first call spins in its module', `zel.exec(app, 'spin x;', js);
      setTimeout(() => process.exit(7), 200);`, '', 7],
  ];
  for (const [name, body, printed, status] of rows) {
    const script = `const zel = require(${JSON.stringify(root)}); const app = ${JSON.stringify(app)};
      const js = ${JSON.stringify(js)}; const native = ${JSON.stringify(path.join(modules, 'calculator.zel'))};
      ${calls} (async () => { ${body} })();`;
    const out = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8', timeout: 20000 });
    assert.deepStrictEqual([out.stdout.trim(), out.status], [printed, status], `${name}: ${out.stderr}`);
  }
});
