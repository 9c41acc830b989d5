'use strict';
// Worker processes that die or are stopped: no job is lost, none completes
// twice, and SIGTERM finishes or hands back the running job.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');

const zel = require('..');
const { makeScratchApp } = require('./support/scratch_app');
const { testRedis, rawQueue, pause } = require('./support/redis');

const JOBS = 200;
const KILLS = 3;
const { app } = makeScratchApp({ tag: 'queue-crash', modules: { nap: 'sleep_module' }, forms: 'sleep (nap)\n' });
let redis;
test.before(async () => { redis = await testRedis(); });
test.after(async () => { fs.rmSync(app, { recursive: true, force: true }); await redis.stop?.(); });

// A worker process with short locks, so that a dead one's job is back in
// about two seconds (long enough that a busy machine's late lock renewal
// is not taken for a death); its standard error is kept in `log`.
function startWorker(url, queue, log) {
  const child = spawn(process.execPath, [path.join(__dirname, '..', 'bin', 'zel'), 'worker',
    '--redis', url, '--queue', queue, '--app', `calc=${app}`, '--lock-duration', '2000',
    '--stalled-interval', '500', '--max-stalled', String(KILLS)], { stdio: ['ignore', 'ignore', 'pipe'] });
  child.stderr.on('data', (d) => log.push(String(d)));
  return child;
}

const ended = (child) => child.exitCode !== null || child.signalCode !== null;
const exited = (child) => new Promise((resolve) => (ended(child) ? resolve() : child.once('exit', resolve)));

// Resolves once `child` is running one of the queue's jobs.
async function running(raw, child) {
  const name = `${os.hostname()}:${child.pid}`;
  while (!(await raw.getActive()).some((job) => job.processedBy === name)) await pause(20);
}

test('a worker killed mid-job loses no job and completes none twice', { timeout: 90000 }, async (t) => {
  if (redis.skip) return t.skip(redis.skip);
  const name = `crash-${process.pid}`;
  const log = [];
  const workers = [0, 1, 2].map(() => startWorker(redis.url, name, log));
  const raw = rawQueue(redis.url, name);
  const queue = zel.createQueue({ connection: redis.url, queue: name, attempts: 1 });
  t.after(async () => {
    for (const w of workers) w.kill('SIGKILL');
    await Promise.all([queue.close(), raw.close(), ...workers.map(exited)]);
  });

  const calls = Array.from({ length: JOBS }, (_, i) =>
    queue.exec('calc', 'sleep 40;', 'calc.zel', { jobId: `job-${i}` }).then(() => 1, (e) => e));
  for (let kill = 0; kill < KILLS; kill++) {
    await running(raw, workers[0]);
    workers[0].kill('SIGKILL');
    await exited(workers[0]);
    workers[0] = startWorker(redis.url, name, log);
  }
  const failed = (await Promise.all(calls)).filter((r) => r !== 1);
  // The queue's event stream, read whole: the id of each completion, once each.
  const reader = new (require('ioredis'))(redis.url);
  const completed = (await reader.xrange(`bull:${name}:events`, '-', '+'))
    .filter(([, f]) => f[0] === 'event' && f[1] === 'completed').map(([, f]) => f[3]);
  await reader.quit();
  // Each kill left its job, and the one it held ahead, to be found stalled and run again.
  const stalled = log.join('').match(/stalled/g).length;
  assert.deepStrictEqual([failed, await raw.getCompletedCount(), completed.length, new Set(completed).size,
    stalled >= KILLS && stalled <= 2 * KILLS], [[], JOBS, JOBS, JOBS, true], log.join(''));
});

// The worker holds a second job ahead of the one it runs: a stop hands it
// back unstarted, its attempts unspent.
test('SIGTERM lets the running job finish; a second one hands it back', { timeout: 60000 }, async (t) => {
  if (redis.skip) return t.skip(redis.skip);
  const rows = [['one SIGTERM', 1, ['completed 1', 'completed 1', 'waiting 0']],
    ['two SIGTERMs', 2, ['completed 1', 'waiting 1', 'waiting 0']]];
  for (const [label, signals, states] of rows) {
    const name = `stop-${process.pid}-${signals}`;
    const raw = rawQueue(redis.url, name);
    const log = [];
    const worker = startWorker(redis.url, name, log);
    const text = [':s:calc.zel;', ...Array(10).fill('sleep 100;')].join('\n');
    // The first job comes to a waiting worker; the second, found without a
    // wait, makes it busy: it takes the third ahead of the second.
    while (!log.join('').includes('taking jobs')) await pause(20);
    const jobs = [];
    for (let i = 0; i < 3; i++) jobs.push(await raw.add('run', { op: 'run', app: 'calc', text }, { attempts: 2 }));
    await running(raw, worker);
    while ((await raw.getActiveCount()) < 2) await pause(20);
    // Signals sent together may arrive as one: the next waits for the worker's word.
    for (let i = 0; i < signals; i++) {
      worker.kill('SIGTERM');
      while (!log.join('').includes('zel worker: stopping') && !ended(worker)) await pause(20);
    }
    await exited(worker);
    assert.strictEqual(worker.exitCode, 0, `${label}: ${log.join('')}`);
    const finals = await Promise.all(jobs.map(async ({ id }) =>
      `${await raw.getJobState(id)} ${(await raw.getJob(id)).attemptsMade}`));
    assert.deepStrictEqual(finals, states, label);
    await raw.close();
  }
});
