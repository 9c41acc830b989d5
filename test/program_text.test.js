'use strict';
// A program given as text runs as the same program in a file would, through
// the promise API, a pool and "zel run -", and leaves nothing in the home;
// no part of a program is skipped in silence.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const zel = require(root);
const { makeScratchApp, testCatalog } = require('./support/scratch_app');

const { app } = makeScratchApp({ tag: 'text', modules: { did: 'statement_module', halt: 'stop_module' },
  forms: 'do (did)\nstop (halt)\n' });
const dir = fs.mkdtempSync(path.join(app, '..', 'zel-text-files-'));
const pool = zel.createPool({ size: 1 });
test.after(async () => {
  await pool.close();
  fs.rmSync(app, { recursive: true, force: true });
  fs.rmSync(dir, { recursive: true, force: true });
});
const limit = { timeout: 60000 };  // no test here may hang the suite

const fileOf = (name, text) => {
  const file = path.join(dir, `${name.replace(/\W+/g, '-')}.txt`);
  fs.writeFileSync(file, text);
  return file;
};
const compiled = async (text) => fs.readFileSync((await zel.compile(fileOf('c', text), '.zel', { app })).output, 'utf8');
const zelRun = (program, input) => spawnSync(process.execPath,
  [path.join(root, 'bin', 'zel'), 'run', program, '--app', app], { input, encoding: 'utf8' });

test('a program text has the outcome of the same file: promise API, pool and zel run -', limit, async () => {
  const programs = [
    ['statements, a comment, a two-line statement, CRLF line ends',
      ':s:calc.zel;\r\n## note\r\ndo a;\r\n\r\ndo b\r\nand c;\r\n'],
    ['failures on their lines', ':s:calc.zel;\ndo a;\nnf such;\nlex word;\ndo z;\n'],
    ['a header that leaves node_modules', '\n:s:../../outside.zel;\ndo a;\n'],
    ['a pack that does not exist', ':s:none.zel;\ndo a;\n'],
    ['no final line break', ':s:calc.zel;\ndo a;'],
    ['compiled', await compiled(':s:calc.zel; header line\ndo something long enough;\n')],
  ];
  const listing = () => fs.readdirSync(app, { recursive: true }).sort();
  const before = listing();
  for (const [name, text] of programs) {
    const file = fileOf(name, text);
    for (const [via, api] of [['promise', zel], ['pool', pool]]) {
      assert.deepStrictEqual(await api.run(app, { text }), await api.run(app, file), `${via}: ${name}`);
    }
    const [fromFile, fromStdin] = [zelRun(file, ''), zelRun('-', text)];
    assert.deepStrictEqual([fromStdin.status, fromStdin.stdout, fromStdin.stderr.replaceAll('<stdin>', file)],
      [fromFile.status, fromFile.stdout, fromFile.stderr], `zel run -: ${name}`);
  }
  assert.deepStrictEqual(listing(), before, 'nothing written into the home');
  for (const program of [undefined, null, 7, {}, { text: 7 }]) await assert.rejects(zel.run(app, program), TypeError);
});

test('statements that never run are failures on their line; comments and stop are not', limit, async () => {
  const shipped = fs.readFileSync(path.join(root, 'lang', 'lang.conf'), 'utf8').match(/^:36:(.*)$/m)[1];
  // [case, program, [line, message, text] of each failure, catalogue of the home]
  const cases = [
    ['no header', '## note\n\ndo a;\n', [[3, 36, 'M36']]],
    ['text after the last ";"', ':s:calc.zel;\ndo a;\ndo b\r\nand  c ', [[3, 37, 'M37 do band  c']]],
    ['a compiled program ending without ";"', await compiled(':s:calc.zel; header line\ndo something long enough\n'),
      [[2, 37, 'M37 do something long enough']]],
    ['an empty program', '', []],
    ['comments only, no header', '## one\n// two\n\n', []],
    ['a trailing comment', ':s:calc.zel;\ndo a;\n// the end', []],
    ['text after stop', ':s:calc.zel;\nstop;\ndo b', []],
    // A home laid out before message 36 existed gets the text zel ships.
    ['no header, the catalogue without message 36', 'do a;\n', [[1, 36, shipped]], testCatalog().replace(/:36:.*\n/, '')],
  ];
  const catalogue = path.join(app, 'node_modules', 'zel_linux', 'lang.conf');
  for (const [name, text, expected, lang = testCatalog()] of cases) {
    fs.writeFileSync(catalogue, lang);
    for (const api of [zel, pool]) {
      const outcome = await api.run(app, { text });
      const seen = outcome.diagnostics.map((d) => [d.line, d.message, d.text]);
      assert.deepStrictEqual([outcome.failed, seen], [expected.length > 0, expected], name);
    }
  }
  // The classic export keeps quiet about them, as it always has.
  assert.strictEqual(zel.Executer(app, fileOf('classic', 'do a;\n')), '');
});

test('results: each statement\'s result with its line, in order, capped as diagnostics are', limit, async () => {
  const many = Array.from({ length: 120 }, (_, i) => `do ${i};`).join('\n');
  for (const api of [zel, pool]) {
    const { results } = await api.run(app, { text: ':s:calc.zel;\ndo a;\n## note\nnf b;\ndo c\n d;\n' },
      { results: true });
    assert.deepStrictEqual(results, [{ line: 2, text: 'did do a' }, { line: 4, text: 'M3 nf b' },
      { line: 6, text: 'did do c d' }]);
    const capped = (await api.run(app, { text: `:s:calc.zel;\n${many}` }, { results: true })).results;
    assert.deepStrictEqual([capped.length, capped[99], capped[100]], [101, { line: 101, text: 'did do 99' },
      { line: null, text: '20 more results left out' }]);
    assert.strictEqual((await api.run(app, { text: 'x' })).results, undefined, 'only when asked for');
  }
});
