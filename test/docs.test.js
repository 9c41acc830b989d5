'use strict';
// Every code block of the README and of docs/*.md runs as written: JavaScript
// and shell blocks in a scratch directory holding an example home (zel-home)
// where "zel", "npx zel" and require('zel') reach this checkout, C++ blocks
// compiled against zel_module.h, JSON parsed. A ```text block is the expected
// standard output of the block right before it.
const test = require('node:test');
require('./support/time_limit').timeLimit(600);
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { codeBlocks } = require('./support/doc_blocks');

const root = path.join(__dirname, '..');
const docs = ['README.md', ...fs.readdirSync(path.join(root, 'docs')).filter((f) => f.endsWith('.md')).map((f) => `docs/${f}`)];
const skippedKinds = new Set(['', 'cmake']);

// A scratch directory with the example home and this checkout as node_modules/zel.
function scratch() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-docs-'));
  fs.mkdirSync(path.join(dir, 'node_modules', '.bin'), { recursive: true });
  fs.symlinkSync(root, path.join(dir, 'node_modules', 'zel'));
  fs.symlinkSync(path.join(root, 'bin', 'zel'), path.join(dir, 'node_modules', '.bin', 'zel'));
  const init = spawnSync(path.join(root, 'bin', 'zel'), ['init', 'zel-home', '--example'], { cwd: dir, encoding: 'utf8' });
  assert.strictEqual(init.status, 0, init.stderr);
  return dir;
}

// Runs `block` (number `i`) in `dir`; returns its standard output, or null
// for a block that is only checked.
function runBlock(block, dir, i) {
  const env = { ...process.env, PATH: `${path.join(dir, 'node_modules', '.bin')}:${process.env.PATH}`, npm_config_offline: 'true' };
  let command;
  if (block.kind === 'js') {
    const file = path.join(dir, `block${i}${/^import /m.test(block.code) ? '.mjs' : '.js'}`);
    fs.writeFileSync(file, block.code);
    command = [process.execPath, [file]];
  } else if (block.kind === 'sh') {
    command = ['bash', ['-e', '-o', 'pipefail', '-c', block.code]];
  } else if (block.kind === 'cpp') {
    fs.writeFileSync(path.join(dir, `block${i}.cc`), block.code);
    command = ['g++', ['-std=c++17', '-fsyntax-only', '-Wall', '-Werror', '-I', path.join(root, 'src', 'modules'), `block${i}.cc`]];
  } else if (block.kind === 'json') {
    JSON.parse(block.code.trimStart().startsWith('{') ? block.code : `{${block.code}}`);
    return null;
  } else {
    assert.fail(`no way to run a block of kind "${block.kind}": mark it <!-- doc-test: skip (why) -->`);
  }
  const r = spawnSync(command[0], command[1], { cwd: dir, env, encoding: 'utf8', timeout: 60000 });
  assert.strictEqual(r.status, 0, `${block.code}\n${r.stdout}${r.stderr}`);
  return block.kind === 'cpp' ? null : r.stdout;
}

for (const doc of docs) {
  test(`every code block of ${doc} runs as written`, async (t) => {
    const blocks = codeBlocks(path.join(root, doc));
    const dir = scratch();
    t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
    let output = null;
    for (const [i, block] of blocks.entries()) {
      const name = `${doc}:${block.line} ${block.kind || 'plain'}`;
      if (block.skip || skippedKinds.has(block.kind)) {
        await t.test(name, { skip: block.skip || `a ${block.kind || 'plain'} block` }, () => {});
      } else if (block.kind === 'text') {
        await t.test(`${name}: the output of the block before`, () => {
          assert.notStrictEqual(output, null, 'the block before is a JavaScript or shell block that ran');
          assert.strictEqual(output, block.code);
        });
      } else {
        output = null;
        await t.test(name, () => { output = runBlock(block, dir, i); });
      }
    }
  });
}
