'use strict';
// Installing and checking packs: only the pack's own entries, links only
// inward, temporary files never reached through a link, pack code confined.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync, execFileSync } = require('node:child_process');
const { copyWhole } = require('../lib/cli/files');

const root = path.join(__dirname, '..');
const zel = (args) => spawnSync(process.execPath, [path.join(root, 'bin', 'zel'), ...args],
  { encoding: 'utf8', timeout: 60000 });
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-packs-'));
test.after(() => fs.rmSync(dir, { recursive: true, force: true }));
const secret = path.join(dir, 'secret');
fs.writeFileSync(secret, 'private\n', { mode: 0o600 });

test('add-pack installs the pack alone, and links only as links that stay inside', () => {
  const move = (from, to) => (pack) => fs.renameSync(path.join(pack, from), path.join(pack, to));
  const link = (target, at) => (pack) => fs.symlinkSync(target(pack), path.join(pack, at));
  // [case, how to spoil a copy of the built pack, status, the link installed]
  const rows = [
    ['a pack named ".."', move('calculator.zel', '...zel'), 2],
    ['a pack named ""', move('calculator.zel', '.zel'), 2],
    ['a pack directory that is a link', (pack) => {
      move('calculator', '../moved')(pack);
      link(() => path.join(pack, '..', 'moved'), 'calculator')(pack);
    }, 2],
    ['a link to a private file', link((pack) => path.relative(path.join(pack, 'calculator'), secret), 'calculator/key.so'), 2],
    ['a link inside its directory', link(() => 'forms.so', 'korrin_linux/alias.so'), 0, 'korrin_linux/alias.so'],
  ];
  for (const [name, spoil, status, linked] of rows) {
    const home = fs.mkdtempSync(path.join(dir, 'home-'));
    const pack = path.join(fs.mkdtempSync(path.join(dir, 'pack-')), 'pack');
    fs.cpSync(path.join(root, 'build', 'packs', 'calculator'), pack, { recursive: true });
    fs.writeFileSync(path.join(pack, 'program.txt'), 'beside the pack\n');
    spoil(pack);
    assert.strictEqual(zel(['init', home]).status, 0);
    const r = zel(['add-pack', pack, '--app', home]);
    assert.strictEqual(r.status, status, `${name}: ${r.stderr}`);
    assert.deepStrictEqual(fs.readdirSync(home), ['node_modules'], name);
    assert.strictEqual(fs.existsSync(path.join(home, 'node_modules', 'calculator', 'key.so')), false, name);
    if (linked) assert.strictEqual(fs.readlinkSync(path.join(home, 'node_modules', linked)), 'forms.so', name);
  }
});

test('a copy never writes through a link found at its temporary name', () => {
  const temporary = path.join(dir, '.to.tmp');
  fs.symlinkSync(secret, temporary);
  assert.throws(() => copyWhole(__filename, path.join(dir, 'to'), temporary), { code: 'EEXIST' });
  assert.deepStrictEqual([fs.readFileSync(secret, 'utf8'), fs.statSync(secret).mode & 0o777], ['private\n', 0o600]);
  assert.deepStrictEqual([fs.existsSync(path.join(dir, 'to')), fs.readlinkSync(temporary)], [false, secret]);
});

test('check loads a pack\'s code as an unprivileged user and ends what it starts', () => {
  const home = fs.mkdtempSync(path.join(dir, 'sample-'));
  fs.cpSync(path.join(root, 'build', 'sample'), home, { recursive: true });
  fs.copyFileSync(path.join(root, 'build', 'test', 'fixtures', 'fork_on_load.so'),
    path.join(home, 'node_modules', 'calculator', 'vars.so'));
  const r = zel(['check', '--app', home, '--load-limit', '300']);
  assert.match(r.stdout, /vars\.so: did not finish loading within 0\.3 s/);
  const uid = process.getuid() === 0 ? Number(execFileSync('id', ['-u', 'nobody'], { encoding: 'utf8' })) : process.getuid();
  assert.match(r.stderr, new RegExp(`^loaded as uid ${uid}$`, 'm'));
  const forked = (r.stderr.match(/^forked pid (\d+)$/m) || [])[1];
  // Ended: reaped, or a zombie (state Z) left to init.
  const stat = fs.existsSync(`/proc/${forked}/stat`) ? fs.readFileSync(`/proc/${forked}/stat`, 'utf8') : ') Z';
  assert.ok(forked && / Z /.test(stat.slice(stat.lastIndexOf(')'))), `the process it started (${forked}) runs`);
});
