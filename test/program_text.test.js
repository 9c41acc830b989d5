'use strict';
// A program given as text runs as the same program in a file would, through
// the promise API, a pool and "zel run -", and leaves nothing in the home.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const zel = require(root);
const { makeScratchApp } = require('./support/scratch_app');

const { app } = makeScratchApp({ tag: 'text', modules: { did: 'statement_module' }, forms: 'do (did)\n' });
const dir = fs.mkdtempSync(path.join(app, '..', 'zel-text-files-'));
test.after(() => {
  fs.rmSync(app, { recursive: true, force: true });
  fs.rmSync(dir, { recursive: true, force: true });
});

// Each program as text; every one is also written to a file outside the home.
const programs = [
  ['statements, a comment, a two-line statement, CRLF line ends',
    ':s:calc.zel;\r\n## note\r\ndo a;\r\n\r\ndo b\r\nand c;\r\n'],
  ['failures on their lines', ':s:calc.zel;\ndo a;\nnf such;\nlex word;\ndo z;\n'],
  ['a header that leaves node_modules', '\n:s:../../outside.zel;\ndo a;\n'],
  ['a pack that does not exist', ':s:none.zel;\ndo a;\n'],
  ['no final line break', ':s:calc.zel;\ndo a;'],
];

const fileOf = (name, text) => {
  const file = path.join(dir, `${name.replace(/\W+/g, '-')}.txt`);
  fs.writeFileSync(file, text);
  return file;
};
const listing = () => fs.readdirSync(app, { recursive: true }).sort();
const limit = { timeout: 60000 };  // no test here may hang the suite

test('promise API and pool: a program text has the outcome of the same file', limit, async (t) => {
  const pool = zel.createPool({ size: 1 });
  t.after(() => pool.close());
  const source = fileOf('compiled', ':s:calc.zel; header line\ndo something long enough;\n');
  const compiled = (await zel.compile(source, '.zel', { app })).output;
  const before = listing();
  for (const [name, text] of [...programs, ['compiled', fs.readFileSync(compiled, 'utf8')]]) {
    const file = fileOf(name, text);
    for (const [via, api] of [['promise', zel], ['pool', pool]]) {
      const fromText = await api.run(app, { text });
      assert.deepStrictEqual(fromText, await api.run(app, file), `${via}: ${name}`);
    }
  }
  assert.deepStrictEqual(listing(), before, 'nothing written into the home');
});

test('zel run - prints what zel run FILE prints', limit, () => {
  const zelRun = (program, input) => spawnSync(process.execPath,
    [path.join(root, 'bin', 'zel'), 'run', program, '--app', app], { input, encoding: 'utf8' });
  for (const [name, text] of programs) {
    const file = fileOf(name, text);
    const [fromFile, fromStdin] = [zelRun(file, ''), zelRun('-', text)];
    assert.deepStrictEqual([fromStdin.status, fromStdin.stdout, fromStdin.stderr.replaceAll('<stdin>', file)],
      [fromFile.status, fromFile.stdout, fromFile.stderr], name);
  }
});

test('a program that is neither a path nor { text } is refused', limit, async () => {
  for (const program of [undefined, null, 7, {}, { text: 7 }]) {
    await assert.rejects(zel.run(app, program), TypeError);
  }
});
