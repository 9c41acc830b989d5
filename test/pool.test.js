'use strict';
// createPool: calls spread over child processes, a child that dies is
// replaced, and closing leaves no child behind.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const zel = require(root);
const { makeScratchApp } = require('./support/scratch_app');

function makeApp() {
  return makeScratchApp({
    tag: 'pool',
    modules: { pid: 'pid_module', crash: 'crash_module', halt: 'stop_module' },
    forms: 'pid (pid)\ncrash (crash)\nstop (halt)\n',
    catalog: ':12:M12\n:21:STOP-NOW\n',
  });
}

const { app, syntax } = makeApp();
test.after(() => fs.rmSync(app, { recursive: true, force: true }));

const pidOf = (outcome) => Number(outcome.result.replace('pid ', ''));
const alive = (pid) => {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
};

test('a pool spreads calls over its children, survives a crash and closes them all', async (t) => {
  const pool = zel.createPool({ size: 2 });
  // A failed assertion must not leave children that keep this process alive.
  t.after(() => pool.close());
  const pids = new Set();
  const batch = async () => {
    for (const o of await Promise.all(Array.from({ length: 6 }, () => pool.exec(app, 'pid;', syntax)))) {
      assert.ok(o.result.startsWith('pid '), o.result);
      pids.add(pidOf(o));
    }
  };
  await batch();
  assert.strictEqual(pids.size, 2);
  assert.ok(!pids.has(process.pid));

  // The crash rejects its own call only; the calls beside it complete.
  const around = [pool.exec(app, 'pid;', syntax), pool.exec(app, 'crash now;', syntax),
    pool.exec(app, 'pid;', syntax)];
  const settled = await Promise.allSettled(around);
  assert.deepStrictEqual(settled.map((s) => s.status), ['fulfilled', 'rejected', 'fulfilled']);
  assert.strictEqual(settled[1].reason.code, 'ZEL_CHILD_DIED');
  // A stop answer ends the call, not the child.
  assert.strictEqual((await pool.exec(app, 'stop;', syntax)).stopped, true);
  await batch();
  assert.strictEqual(pids.size, 3, 'the crashed child was replaced by one new child');

  await pool.close();
  for (const pid of pids) assert.strictEqual(alive(pid), false, `child ${pid} still running`);
  await assert.rejects(pool.exec(app, 'pid;', syntax), /closed/);
});
