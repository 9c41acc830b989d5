'use strict';
// Installing and checking packs: only the pack's own entries are installed,
// links never lead out, temporary files are never reached through a link,
// and a pack's code runs confined.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync, execFileSync } = require('node:child_process');
const { copyWhole } = require('../lib/cli/files');

const root = path.join(__dirname, '..');
const builtPack = path.join(root, 'build', 'packs', 'calculator');
const zel = (args) => spawnSync(process.execPath, [path.join(root, 'bin', 'zel'), ...args],
  { encoding: 'utf8', timeout: 60000 });

// A temporary directory (open to its owner only), removed after the test.
function scratch(t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-packs-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

// True when process `pid` runs (a zombie has ended).
function running(pid) {
  try {
    return !/^\d+ \(.*\) Z/.test(fs.readFileSync(`/proc/${pid}/stat`, 'utf8'));
  } catch {
    return false;
  }
}

test('add-pack installs the pack alone, and links only as links that stay inside', async (t) => {
  const dir = scratch(t);
  const secret = path.join(dir, 'secret');
  fs.writeFileSync(secret, 'private\n', { mode: 0o600 });
  // [case, how to spoil a copy of the built pack in `pack`, status, what must be installed]
  const rows = [
    ['a pack named ".."', (pack) => {
      fs.renameSync(path.join(pack, 'calculator.zel'), path.join(pack, '...zel'));
      fs.writeFileSync(path.join(pack, 'program.txt'), 'beside the pack\n');
    }, 2, []],
    ['a pack named ""', (pack) => fs.renameSync(path.join(pack, 'calculator.zel'), path.join(pack, '.zel')), 2, []],
    ['a pack directory that is a link', (pack) => {
      fs.renameSync(path.join(pack, 'calculator'), path.join(dir, 'elsewhere'));
      fs.symlinkSync(path.join(dir, 'elsewhere'), path.join(pack, 'calculator'));
    }, 2, []],
    ['a link to a private file outside', (pack) => {
      fs.symlinkSync(path.relative(path.join(pack, 'calculator'), secret), path.join(pack, 'calculator', 'key.so'));
    }, 2, []],
    ['a link that stays in its directory', (pack) => {
      fs.symlinkSync('forms.so', path.join(pack, 'korrin_linux', 'alias.so'));
    }, 0, ['calculator.zel', 'korrin_linux/alias.so']],
  ];
  for (const [name, spoil, status, installed] of rows) {
    const home = fs.mkdtempSync(path.join(dir, 'home-'));
    const pack = fs.mkdtempSync(path.join(dir, 'pack-'));
    fs.cpSync(builtPack, pack, { recursive: true });
    spoil(pack);
    assert.strictEqual(zel(['init', home]).status, 0);
    const r = zel(['add-pack', pack, '--app', home]);
    assert.strictEqual(r.status, status, `${name}: ${r.stderr}`);
    const below = (rel) => path.join(home, 'node_modules', rel);
    assert.deepStrictEqual(fs.readdirSync(home), ['node_modules'], name);
    assert.strictEqual(fs.existsSync(below('calculator/key.so')), false, name);
    for (const rel of installed) assert.ok(fs.existsSync(below(rel)), `${name}: ${rel}`);
    if (installed.includes('korrin_linux/alias.so')) {
      assert.strictEqual(fs.readlinkSync(below('korrin_linux/alias.so')), 'forms.so', name);
    }
  }
});

test('a copy never writes through a link found at its temporary name', (t) => {
  const dir = scratch(t);
  const victim = path.join(dir, 'victim');
  fs.writeFileSync(victim, 'private\n', { mode: 0o600 });
  const from = path.join(dir, 'from');
  fs.writeFileSync(from, 'new\n', { mode: 0o644 });
  const temporary = path.join(dir, '.to.tmp');
  fs.symlinkSync(victim, temporary);
  assert.throws(() => copyWhole(from, path.join(dir, 'to'), temporary), { code: 'EEXIST' });
  assert.deepStrictEqual([fs.readFileSync(victim, 'utf8'), fs.statSync(victim).mode & 0o777], ['private\n', 0o600]);
  assert.strictEqual(fs.existsSync(path.join(dir, 'to')), false);
  assert.strictEqual(fs.readlinkSync(temporary), victim);
});

test('check loads a pack\'s code as an unprivileged user and ends what it starts', (t) => {
  const home = scratch(t);
  fs.cpSync(path.join(root, 'build', 'sample'), home, { recursive: true });
  fs.copyFileSync(path.join(root, 'build', 'test', 'fixtures', 'fork_on_load.so'),
    path.join(home, 'node_modules', 'calculator', 'vars.so'));
  const r = zel(['check', '--app', home, '--load-limit', '300']);
  assert.strictEqual(r.status, 1, r.stderr);
  assert.match(r.stdout, /vars\.so: did not finish loading within 0\.3 s/);
  const uid = process.getuid() === 0 ? Number(execFileSync('id', ['-u', 'nobody'], { encoding: 'utf8' })) : process.getuid();
  assert.match(r.stderr, new RegExp(`^loaded as uid ${uid}$`, 'm'));
  const forked = Number((r.stderr.match(/^forked pid (\d+)$/m) || [])[1]);
  assert.ok(forked > 0, r.stderr);
  assert.strictEqual(running(forked), false, `the process the module started (${forked}) outlived the check`);
});
