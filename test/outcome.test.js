'use strict';
// Every promise or pool call's outcome is its own: nothing crosses from one
// caller to the next, every failure is reported with its line, and the
// classic exports keep returning what they returned before.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const zel = require(root);
const { makeScratchApp, testCatalog } = require('./support/scratch_app');

const { app, syntax } = makeScratchApp({
  tag: 'outcome',
  modules: { printer: 'echo_module', thrower: 'throwing_module', again: 'reentrant_module', size: 'sized_answer_module',
    halt: 'stop_module' },
  forms: 'print (printer)\nboom (thrower)\nreenter (again)\nsize (size)\nleave (../calc/printer)\n' +
    'broken (broken)\nstop (halt)\nurl (url)\n',
});
fs.writeFileSync(path.join(app, 'node_modules', 'calc', 'broken.so'), 'not a shared object');
// A JavaScript module whose loader names a file outside the home by its URL.
fs.writeFileSync(path.join(app, 'node_modules', 'calc', 'url.js'),
  "require(require('node:url').pathToFileURL(`${__dirname}/../../../none.js`).href);\n");
fs.writeFileSync(path.join(app, 'node_modules', 'zzz.zel'), 'zzz (nothing)\n');
// A pack file a user could have placed outside node_modules.
const uploaded = path.join(app, 'uploads', 'admin.zel');
fs.mkdirSync(path.dirname(uploaded));
fs.writeFileSync(uploaded, 'print (printer)\n');
const bare = makeScratchApp({ tag: 'outcome-bare', modules: {}, forms: 'print (printer)\n' });
fs.rmSync(path.join(bare.app, 'node_modules', 'zel_linux'), { recursive: true });
// A home laid out before message 36 existed.
const old = makeScratchApp({ tag: 'outcome-old', modules: {}, forms: '', catalog: testCatalog().replace(/:36:.*\n/, '') });
test.after(() => {
  for (const dir of [app, bare.app, old.app]) fs.rmSync(dir, { recursive: true, force: true });
});

function file(name, lines) {
  const target = path.join(app, name);
  fs.writeFileSync(target, lines.join('\n') + '\n');
  return target;
}
const program = (name, lines) => file(name, [':s:calc.zel;', ...lines]);

test('two callers alternating never see each other\'s texts', async (t) => {
  const pool = zel.createPool({ size: 1 });
  t.after(() => pool.close());
  // What each caller runs; the comment, the headerless program and the
  // comment statement produce nothing of their own.
  const steps = (who, api) => [
    () => api.exec(app, `print secret-${who};`, syntax),
    () => api.run(app, file(`comment-${who}.txt`, [':s:calc.zel;', '## nothing here;'])),
    () => api.run(app, program(`fail-${who}.txt`, [`nf secret-${who};`])),
    () => api.exec(app, '## a comment;', syntax),
    () => api.run(app, file(`none-${who}.txt`, ['no header;'])),
  ];
  for (const api of [zel, pool]) {
    const seen = { a: [], b: [] };
    const a = steps('a', api);
    const b = steps('b', api);
    for (let i = 0; i < a.length; i++) {
      seen.a.push(JSON.stringify(await a[i]()));
      seen.b.push(JSON.stringify(await b[i]()));
    }
    assert.ok(!seen.b.some((text) => text.includes('secret-a')), seen.b.join('\n'));
    assert.ok(!seen.a.slice(1).some((text) => text.includes('secret-b')), seen.a.join('\n'));
    // A call with nothing of its own to say says nothing.
    assert.deepStrictEqual(seen.b.slice(3).map((text) => JSON.parse(text).result), ['', '']);
  }
});

test('each failure kind is reported with its message and line', async (t) => {
  const outside = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-outside-'));
  t.after(() => fs.rmSync(outside, { recursive: true, force: true }));
  fs.writeFileSync(path.join(outside, 'elsewhere.txt'), ':s:calc.zel; a header long enough\n');
  const compiledHeader = path.join(app, 'compiled.txt');
  fs.writeFileSync(compiledHeader, ':s:calc.zel; a header long enough\nprint a long enough line;\n');
  await zel.compile(compiledHeader, '.zel', { app });
  const many = program('many.txt', Array.from({ length: 150 }, (_, i) => `nf ${i};`));
  const unended = file('unended.txt', [':s:calc.zel; header line', 'print something long enough']);
  await zel.compile(unended, '.zel', { app });
  const text = (program, home = app) => () => zel.run(home, { text: program });
  const shipped36 = fs.readFileSync(path.join(root, 'lang', 'lang.conf'), 'utf8').match(/^:36:(.*)$/m)[1];
  // [name, call, { failed, message, line, diagnostics: [[line, message(, text)], ...] }]
  const rows = [
    // Statements that never run are failures on their line; comments and stop are not.
    ['no header', text('## note\n\nprint a;\n'), { failed: true, diagnostics: [[3, 36, 'M36']] }],
    ['text after the last ";"', text(':s:calc.zel;\nprint a;\nprint b\r\nand  c '),
      { failed: true, diagnostics: [[3, 37, 'M37 print band  c']] }],
    ['a compiled program ending without ";"', () => zel.run(app, unended.replace('.txt', '.zel')),
      { failed: true, diagnostics: [[2, 37, 'M37 print something long enough']] }],
    ...[['an empty program', ''], ['comments only, no header', '## one\n// two\n\n'],
      ['a trailing comment', ':s:calc.zel;\nprint a;\n// the end'], ['text after stop', ':s:calc.zel;\nstop;\nprint b'],
    ].map(([name, program]) => [name, text(program), { failed: false, diagnostics: [] }]),
    ['no header, the catalogue without message 36', text('print a;\n', old.app), { failed: true, diagnostics: [[1, 36, shipped36]] }],
    ['a header leaving node_modules', () => zel.run(app, file('up.txt', ['## x', ':s:../../etc/x.zel;', 'print a;'])),
      { failed: true, message: 1, line: 2, diagnostics: [[2, 1]] }],
    ['a program outside the home that cannot be opened', () => zel.run(app, path.join(root, 'none', 'none.txt')),
      { failed: true, message: 1, line: null, diagnostics: [[null, 1]], result: 'M1 none.txt' }],
    ['a JavaScript module that requires a file URL', () => zel.exec(app, 'url x;', syntax),
      { failed: true, message: null, line: null, diagnostics: [[null, null]] }],
    ['a module name leaving its pack', () => zel.run(app, program('leave.txt', ['', 'leave now;'])),
      { failed: true, message: 4, line: 3, diagnostics: [[3, 4]] }],
    ['a statement no form accepts, before others', () => zel.run(app, program('nf.txt', ['nf x;', 'print a;'])),
      { failed: true, message: null, line: 3, diagnostics: [[2, 3]] }],
    ['a syntax module\'s refusal', () => zel.run(app, program('nm.txt', ['nm x;'])),
      { failed: true, message: null, line: 2, diagnostics: [[2, null]] }],
    ['a module the loader refuses', () => zel.exec(app, 'broken x;', syntax),
      { failed: true, message: null, line: null, diagnostics: [[null, null]] }],
    ['a plain (CZEL) header line', () => zel.run(app, file('czel.txt', ['(CZEL)calc.zel;', 'print a;'])),
      { failed: false, message: null, line: 2, diagnostics: [] }],
    ['a compiled program\'s header line', () => zel.run(app, path.join(app, 'compiled.zel')),
      { failed: false, message: null, line: 2, diagnostics: [] }],
    ['"*.*" with one pack that accepts', () => zel.exec(app, 'print x;', '*.*'),
      { failed: false, message: null, line: null, diagnostics: [] }],
    ['a pack named by its file name', () => zel.exec(app, 'print x;', 'calc.zel'),
      { failed: false, message: null, line: null, diagnostics: [], result: `ran ${path.relative(app, syntax)};print x;` }],
    ['a home named with a final "/"', () => zel.exec(`${app}/`, 'print x;', 'calc.zel'),
      { failed: false, message: null, line: null, diagnostics: [], result: `ran ${path.relative(app, syntax)};print x;` }],
    ['a pack name leaving node_modules', () => zel.exec(app, 'print x;', 'calc/../../outcome.txt'),
      { failed: true, message: 1, line: null, diagnostics: [[null, 1]], result: 'M1 calc/../../outcome.txt' }],
    ['an absolute pack path outside node_modules', () => zel.exec(app, 'print x;', uploaded),
      { failed: true, message: 1, line: null, diagnostics: [[null, 1]], result: `M1 ${path.relative(app, uploaded)}` }],
    ['an absolute pack path inside it', () => zel.exec(app, 'print x;', path.join(app, 'node_modules', 'x', '..', 'calc.zel')),
      { failed: false, message: null, line: null, diagnostics: [], result: `ran ${path.relative(app, syntax)};print x;` }],
    ['a module calling back into the engine', () => zel.run(app, program('re.txt', ['reenter nf inner;'])),
      { failed: false, message: null, line: 2, diagnostics: [] }],
    ['a header marker in a later statement', () => zel.run(app, program('czel-late.txt', ['', 'nf (CZEL) now;'])),
      { failed: true, message: 3, line: 3, diagnostics: [[3, 3]] }],
    ['lines too short to compile', () => zel.compile(file('short.txt', ['print a long line;', 'x;', 'y;']), '.zel', { app }),
      { failed: true, message: 9, line: null, diagnostics: [[2, 9], [3, 9]], output: 'short.zel' }],
    ['a compilation outside the home', () => zel.compile(path.join(outside, 'elsewhere.txt'), '.zel', { app }),
      { failed: false, message: 10, line: null, diagnostics: [], output: 'elsewhere.zel' }],
    ['a missing catalogue', () => zel.exec(bare.app, 'print x;', bare.syntax),
      { failed: true, message: 4, line: null, diagnostics: [[null, 4]], code: 'ZEL_NO_CATALOGUE' }],
    ['a compilation whose options.app has no catalogue',
      () => zel.compile(file('nocat.txt', ['print a long enough line;']), '.zel', { app: bare.app }),
      { failed: true, message: 10, line: null, diagnostics: [[null, 10]], code: 'ZEL_NO_CATALOGUE' }],
    ['more than 100 failures', () => zel.run(app, many),
      { failed: true, message: 3, line: 151, diagnostics: [...Array.from({ length: 100 }, (_, i) => [i + 2, 3]), [null, null]] }],
  ];
  for (const [name, call, expected] of rows) {
    const outcome = await call();
    const { diagnostics, ...rest } = expected;
    for (const [key, value] of Object.entries(rest)) assert.deepStrictEqual(outcome[key], value, `${name}: ${key}`);
    const seen = outcome.diagnostics.map((d, i) => [d.line, d.message, d.text].slice(0, (diagnostics[i] || []).length || 2));
    assert.deepStrictEqual(seen, diagnostics, name);
    // A user sees no absolute path of the server in any text.
    const texts = JSON.stringify([outcome.result, outcome.diagnostics, outcome.output]);
    assert.ok(![os.tmpdir(), root].some((dir) => texts.includes(dir)), `${name}: ${texts}`);
  }
  const last = (await zel.run(app, many)).diagnostics.at(-1);
  assert.strictEqual(last.text, '50 more failures left out');
  await assert.rejects(zel.run(app, program('throw.txt', ['boom now;', 'print a;'])), { line: 2 });
  // The classic export keeps quiet about a program without its header, as it always has.
  assert.strictEqual(zel.Executer(app, file('classic-none.txt', ['print a;'])), '');
});

test('a text shows the home relative to it and other server paths by their last name', () => {
  const { userText } = require('../lib/user_text');
  const home = '/srv/my app';
  // [text, home, what a user sees]
  const rows = [
    ['M1 /srv/my apple/x.txt', home, 'M1 x.txt'],
    ['Cannot open "/srv/up (old)/my prog.txt".', home, 'Cannot open "my prog.txt".'],
    ['ES Module /opt/a b/c.mjs from /srv/my app/calc/m.js', home, 'ES Module c.mjs from calc/m.js'],
    ["Cannot find module 'file:///srv/my%20app/node_modules/x.js'", home, "Cannot find module 'node_modules/x.js'"],
    ['at f (file:///opt/zel/lib/x.mjs:3:5)', home, 'at f (x.mjs:3:5)'],
    ['FILE://server/share/x.js', '', 'x.js'],
    ['1/2 of https://example.org/a/b, a ~/x/y and ./x/y', home, '1/2 of https://example.org/a/b, a ~/x/y and ./x/y'],
  ];
  for (const [text, app, seen] of rows) assert.strictEqual(userText(text, app), seen, text);
});

test('the command line reports each failure and exits 1', () => {
  const zelBin = path.join(root, 'bin', 'zel');
  const cli = (args) => spawnSync(process.execPath, [zelBin, ...args, '--app', app], { encoding: 'utf8', cwd: app });
  const failing = cli(['run', 'nf.txt']);
  assert.deepStrictEqual([failing.status, failing.stderr, failing.stdout],
    [1, 'nf.txt:2: M3 nf x\n', 'ran nf.txt;print a;\n']);
  const json = cli(['run', 'up.txt', '--json']);
  assert.strictEqual(json.status, 1);
  assert.deepStrictEqual(JSON.parse(json.stdout).diagnostics, [{ line: 2, message: 1, text: 'M1 ../../etc/x.zel' }]);
  assert.strictEqual(cli(['run', 'czel.txt']).status, 0);
  // Advice follows a failure a pack author can mend, and a refused
  // statement is quoted.
  const broken = cli(['exec', 'broken x;', '--syntax', 'calc.zel']);
  assert.match(broken.stderr, /\n {2}hint: this file is not a shared object/);
  assert.match(cli(['exec', 'frob x;', '--syntax', 'calc.zel']).stderr, /\n {2}the statement: "frob x;"\n$/);
  const noCatalogue = spawnSync(process.execPath, [zelBin, 'exec', 'print x;', '--syntax', 'calc.zel', '--app', bare.app],
    { encoding: 'utf8' });
  assert.strictEqual(noCatalogue.status, 1);
  assert.match(noCatalogue.stderr, /lang\.conf cannot be read; "zel init .*" lays one out/);
});

test('promise calls between classic calls change nothing the classic calls return', () => {
  // Classic calls in a fresh process, with and without promise calls
  // between them: the first module result is held back and results carry
  // over, as they always did.
  const script = (interleave) => `
    const zel = require(${JSON.stringify(root)});
    const [app, syntax, prog, nothing] = ${JSON.stringify([app, syntax, program('classic.txt', ['print classic;']),
      file('nothing.txt', ['no header;'])])};
    const between = ${interleave} ? () => zel.exec(app, 'print promise;', syntax) : async () => {};
    (async () => {
      const out = [];
      for (const call of [() => zel.Executer(app, prog), () => zel.Executer(app, nothing),
        () => zel.Commandes(app, 'nf x;', syntax), () => zel.Executer(app, nothing), () => zel.Executer(app, prog)]) {
        out.push(call());
        await between();
      }
      console.log(JSON.stringify(out));
    })();`;
  const runs = [false, true].map((interleave) =>
    spawnSync(process.execPath, ['-e', script(interleave)], { encoding: 'utf8' }).stdout);
  assert.deepStrictEqual(JSON.parse(runs[0]), ['', '', 'M3 nf x', 'M3 nf x', `ran ${path.join(app, 'classic.txt')};print classic;`]);
  assert.strictEqual(runs[1], runs[0]);
});

// The one case of a text longer than a JavaScript string can hold (the
// limit is about 512 MiB): the call rejects, and the host and the engine go on.
test('an answer too long for a JavaScript string rejects and the next call runs', { timeout: 120000 }, async () => {
  await assert.rejects(zel.exec(app, 'size 600000000;', syntax), { name: 'ZelError', code: 'ZEL_TEXT_TOO_LONG' });
  assert.strictEqual((await zel.exec(app, 'size 3;', syntax)).result, 'xxx');
});
