'use strict';
// createPool: calls spread over child processes, a child that dies is
// replaced, a call that runs on too long loses its child, no option a caller
// passes breaks the pool, and closing leaves no child behind.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { getEventListeners } = require('node:events');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const zel = require(root);
const { makeScratchApp } = require('./support/scratch_app');

function makeApp() {
  return makeScratchApp({
    tag: 'pool',
    modules: { pid: 'pid_module', crash: 'crash_module', halt: 'stop_module', nap: 'sleep_module',
      counter: 'counter_module' },
    forms: 'pid (pid)\ncrash (crash)\nstop (halt)\nsleep (nap)\ncount (counter)\n',
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

test('a child that crashes again and again is replaced each time it was ready', async (t) => {
  const pool = zel.createPool({ size: 1 });
  t.after(() => pool.close());
  for (let i = 0; i < 5; i++) {
    await assert.rejects(pool.exec(app, 'crash now;', syntax), { code: 'ZEL_CHILD_DIED' });
    assert.match((await pool.exec(app, 'pid;', syntax)).result, /^pid /, `after crash ${i + 1}`);
  }
});

test('close lets the running and waiting calls finish', async () => {
  const pool = zel.createPool({ size: 1 });
  const calls = [pool.exec(app, 'sleep 300;', syntax), pool.exec(app, 'pid;', syntax)];
  const closed = pool.close();
  const [slept, pid] = await Promise.all(calls);
  assert.deepStrictEqual([slept.result, pid.result.startsWith('pid ')], ['slept 300', true]);
  await closed;
});

test('options are checked in the parent: a bad call rejects alone, its child free or busy', async (t) => {
  for (const bad of [{ size: 0 }, { killAfter: -1 }, { killAfter: '5' }, 5, null, 'big']) {
    assert.throws(() => zel.createPool(bad), TypeError);
  }
  const pool = zel.createPool({ size: 1 });
  t.after(() => pool.close());
  const circular = {};
  circular.self = circular;
  const badCalls = [
    () => pool.exec(app, 'pid;', syntax, { timeout: 1n }),
    () => pool.exec(app, 'pid;', syntax, { timeout: 2 ** 31 }),
    () => pool.run(app, 'p.txt', { signal: circular }),
    () => pool.compile('a.txt', '.zel', { app: circular }),
    () => pool.exec(app, 'pid;', syntax, null),
  ];
  for (const busy of [false, true]) {
    const running = busy ? pool.exec(app, 'sleep 200;', syntax) : null;
    for (const call of badCalls) await assert.rejects(call(), TypeError);
    // Options the pool does not read are never sent to the child.
    const ignored = pool.exec(app, 'pid;', syntax, { tag: 1n, circular });
    if (running) assert.strictEqual((await running).result, 'slept 200');
    assert.match((await ignored).result, /^pid /);
  }
  await pool.close();
});

test('a call still running killAfter ms past its timeout or abort loses its child', async (t) => {
  const pool = zel.createPool({ size: 1, killAfter: 200 });
  t.after(() => pool.close());
  for (const [name, options] of [['TimeoutError', () => ({ timeout: 100 })],
    ['AbortError', () => ({ signal: AbortSignal.timeout(100) })],
    // An abort before the deadline stays the reason, given at the deadline.
    ['AbortError', () => ({ signal: AbortSignal.timeout(100), timeout: 150 })]]) {
    const before = pidOf(await pool.exec(app, 'pid;', syntax));
    const started = Date.now();
    const stuck = pool.exec(app, 'sleep 20000;', syntax, options())
      .catch((error) => ({ error, took: Date.now() - started, childAlive: alive(before) }));
    const [ended, next] = await Promise.all([stuck, pool.exec(app, 'pid;', syntax)]);
    assert.strictEqual(ended.error && ended.error.name, name);
    if (name === 'TimeoutError') {
      // A timeout rejects at its deadline, before the child is killed.
      assert.ok(ended.childAlive, 'TimeoutError only once the child was killed');
    } else if (!options().timeout) {
      assert.ok(ended.took >= 290, `${name} after ${ended.took} ms, before timeout + killAfter`);
    }
    assert.ok(pidOf(next) !== before && !alive(before), `${name}: the child was not replaced`);
  }
  await pool.close();
});

test('the promise API and the pool: timeout 0, a signal left clean, an abort while queued', async (t) => {
  const pool = zel.createPool({ size: 1 });
  t.after(() => pool.close());
  const program = path.join(app, 'two.txt');
  fs.writeFileSync(program, ':s:calc.zel;\npid;\npid;\n');
  const count = async (api) => Number((await api.exec(app, 'count;', syntax)).result.match(/^call (\d+)/)[1]);
  for (const [name, api] of [['promise API', zel], ['pool', pool]]) {
    // A limit of zero ends a run before its first statement, every time.
    for (let i = 0; i < 5; i++) {
      await assert.rejects(api.run(app, program, { timeout: 0 }), { name: 'TimeoutError' }, name);
    }
    // A signal that outlives its calls keeps no listener from them.
    const longLived = new AbortController();
    await api.exec(app, 'pid;', syntax, { signal: longLived.signal });
    await api.run(app, program, { signal: longLived.signal, timeout: 0 }).catch(() => {});
    assert.strictEqual(getEventListeners(longLived.signal, 'abort').length, 0, name);
    // Aborted while it waits behind a long call: it never runs.
    const before = await count(api);
    const waiting = new AbortController();
    const long = api.exec(app, 'sleep 300;', syntax);
    const queued = api.exec(app, 'count;', syntax, { signal: waiting.signal });
    waiting.abort();
    await Promise.all([long, assert.rejects(queued, { name: 'AbortError' }, name)]);
    assert.strictEqual(await count(api), before + 1, name);
  }
});

test('a pool closed before its children are ready, or after one was replaced, ends them quietly', () => {
  const script = `
    const zel = require(${JSON.stringify(root)});
    const [app, syntax] = ${JSON.stringify([app, syntax])};
    zel.createPool({ size: 2 }).close();
    const pool = zel.createPool({ size: 1, killAfter: 10 });
    pool.exec(app, 'sleep 5000;', syntax, { timeout: 10 }).catch((e) => { console.log(e.name); pool.close(); });`;
  const r = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8' });
  assert.deepStrictEqual([r.status, r.stdout, r.stderr], [0, 'TimeoutError\n', '']);
});

test('an error a child sends back keeps its type in the parent', () => {
  const { errorFromFields } = require('../lib/errors');
  const cases = [
    ['TypeError', TypeError], ['ZelError', zel.ZelError], ['AbortError', DOMException],
    ['TimeoutError', DOMException], ['RangeError', Error],
  ];
  for (const [name, Type] of cases) {
    const error = errorFromFields({ name, message: 'from the child', code: 'ZEL_MODULE_THREW' });
    assert.ok(error instanceof Type, name);
    assert.deepStrictEqual([error.name, error.message], [name, 'from the child']);
  }
});
