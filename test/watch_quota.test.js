'use strict';
// Under a small inotify quota, the engine serves many applications and the
// host's own fs.watch still works afterwards. The quota is lowered in a user
// namespace of a child process (user.max_inotify_watches), so nothing
// changes for the rest of the machine.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const root = path.join(__dirname, '..');

// Run by the child, inside its own user namespace.
const child = `
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
fs.writeFileSync('/proc/sys/user/max_inotify_watches', '64');
const zel = require(${JSON.stringify(root)});
const fixtures = ${JSON.stringify(path.join(root, 'build', 'test', 'fixtures'))};
const dirs = [];
for (let i = 0; i < 40; ++i) {
  const app = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-quota-'));
  dirs.push(app);
  const modules = path.join(app, 'node_modules');
  for (const dir of ['korrin_linux', 'calc', 'zel_linux']) fs.mkdirSync(path.join(modules, dir), { recursive: true });
  fs.copyFileSync(path.join(fixtures, 'keyword_syntax.so'), path.join(modules, 'korrin_linux', 'k.so'));
  fs.copyFileSync(path.join(fixtures, 'echo_module.so'), path.join(modules, 'calc', 'printer.so'));
  fs.writeFileSync(path.join(modules, 'zel_linux', 'lang.conf'), ':19:M19\\n:21:STOP-NOW\\n');
  const syntax = path.join(modules, 'calc.zel');
  fs.writeFileSync(syntax, 'print (printer)\\n');
  for (let round = 0; round < 2; ++round) {
    const result = zel.Commandes(app, 'print x;', syntax);
    if (result !== 'ran ' + syntax + ';print x;') throw new Error('app ' + i + ': ' + result);
  }
}
// The engine's share of the quota is used up: a syntax file it could not
// watch is never kept, and an edit of the same size is seen at once. The
// last applications, left unwatched, go first: an edit the engine sees
// elsewhere would have it read everything afresh.
for (const app of [...dirs].reverse()) {
  const syntax = path.join(app, 'node_modules', 'calc.zel');
  fs.writeFileSync(syntax, 'prunt (printer)\\n');
  const result = zel.Commandes(app, 'prunt x;', syntax);
  if (result !== 'ran ' + syntax + ';prunt x;') throw new Error(app + ' after the edit: ' + result);
}
// The host's own watches: the engine takes at most a quarter of the quota,
// so the other three quarters (48 distinct directories) are left.
const targets = [...dirs, ...dirs.map((dir) => path.join(dir, 'node_modules'))].slice(0, 48);
const watchers = targets.map((dir) => fs.watch(dir));
for (const w of watchers) w.close();
for (const dir of dirs) fs.rmSync(dir, { recursive: true, force: true });
console.log('watched ' + watchers.length);
`;

test('the host keeps its own fs.watch under a small inotify quota', { timeout: 60000 }, (t) => {
  const probe = spawnSync('unshare', ['-U', '-r', 'sh', '-c',
    'echo 64 > /proc/sys/user/max_inotify_watches'], { encoding: 'utf8' });
  if (probe.error || probe.status !== 0) {
    t.skip('no user namespace to lower the quota in: not tested');
    return;
  }
  const run = spawnSync('unshare', ['-U', '-r', process.execPath, '-e', child],
    { encoding: 'utf8' });
  assert.strictEqual(run.stderr, '');
  assert.strictEqual(run.stdout, 'watched 48\n');
  assert.strictEqual(run.status, 0);
});
