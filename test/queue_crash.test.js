'use strict';
// Workers that die: 200 jobs on three worker processes, one of which is
// killed with SIGKILL three times while running a job and started again.
// Every job completes once: the killed ones go back to the queue when their
// lock runs out and run again on another worker.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');

const zel = require('..');
const { makeScratchApp } = require('./support/scratch_app');
const { testRedis } = require('./support/redis');

const JOBS = 200;
const KILLS = 3;
const { app } = makeScratchApp({ tag: 'queue-crash', modules: { nap: 'sleep_module' }, forms: 'sleep (nap)\n' });
test.after(() => fs.rmSync(app, { recursive: true, force: true }));

// A worker process with short locks, so that a dead one's job is back in
// about a second; its standard error is kept in `log`.
function startWorker(url, queue, log) {
  const child = spawn(process.execPath, [path.join(__dirname, '..', 'bin', 'zel'), 'worker',
    '--redis', url, '--queue', queue, '--app', `calc=${app}`, '--lock-duration', '1000',
    '--stalled-interval', '500', '--max-stalled', String(KILLS)], { stdio: ['ignore', 'ignore', 'pipe'] });
  child.stderr.on('data', (d) => log.push(String(d)));
  return child;
}

// Resolves once `child` has exited.
const exited = (child) => new Promise((resolve) => {
  if (child.exitCode !== null || child.signalCode !== null) resolve();
  else child.once('exit', resolve);
});

// Resolves once `child` is running one of the queue's jobs.
async function running(raw, child) {
  const name = `${os.hostname()}:${child.pid}`;
  for (;;) {
    if ((await raw.getActive()).some((job) => job.processedBy === name)) return;
    await new Promise((r) => setTimeout(r, 20));
  }
}

test('a worker killed mid-job loses no job and completes none twice', { timeout: 90000 }, async (t) => {
  const redis = await testRedis();
  if (redis.skip) return t.skip(redis.skip);
  t.after(redis.stop);
  const name = `crash-${process.pid}`;
  const log = [];
  const workers = [0, 1, 2].map(() => startWorker(redis.url, name, log));
  const { Queue } = require('bullmq');
  const { hostname, port } = new URL(redis.url);
  const raw = new Queue(name, { connection: { host: hostname, port: Number(port) } });
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
  const results = await Promise.all(calls);
  assert.deepStrictEqual(results.filter((r) => r !== 1), [], 'every job completed');
  assert.strictEqual(await raw.getCompletedCount(), JOBS);
  // The queue's event stream, read whole: each job's completions.
  const reader = new (require('ioredis'))(redis.url);
  const stream = await reader.xrange(`bull:${name}:events`, '-', '+');
  await reader.quit();
  const completions = new Map();
  for (const [, fields] of stream) {
    const event = Object.fromEntries(fields.flatMap((v, i) => (i % 2 ? [] : [[v, fields[i + 1]]])));
    if (event.event === 'completed') completions.set(event.jobId, (completions.get(event.jobId) || 0) + 1);
  }
  assert.deepStrictEqual([...completions.values()].filter((n) => n !== 1), [], 'no job completed twice');
  assert.strictEqual(completions.size, JOBS);
  // Each kill left its job to be found stalled and run again.
  assert.strictEqual(log.join('').match(/stalled/g).length, KILLS, log.join(''));
});

test('SIGTERM lets the running job finish; a second one hands it back', { timeout: 60000 }, async (t) => {
  const redis = await testRedis();
  if (redis.skip) return t.skip(redis.skip);
  t.after(redis.stop);
  const { Queue } = require('bullmq');
  const { hostname, port } = new URL(redis.url);
  const rows = [['one SIGTERM', 1, 'completed', 0], ['two SIGTERMs', 2, 'waiting', 0]];
  for (const [label, signals, state, status] of rows) {
    const name = `stop-${process.pid}-${signals}`;
    const raw = new Queue(name, { connection: { host: hostname, port: Number(port) } });
    const log = [];
    const worker = startWorker(redis.url, name, log);
    const text = [':s:calc.zel;', ...Array(10).fill('sleep 100;')].join('\n');
    const job = await raw.add('run', { op: 'run', app: 'calc', text }, { attempts: 2 });
    await running(raw, worker);
    // Signals sent together may arrive as one: the next waits for the worker's word.
    for (let i = 0; i < signals; i++) {
      worker.kill('SIGTERM');
      while (log.join('').split('zel worker: stopping').length < 2) await new Promise((r) => setTimeout(r, 20));
    }
    await exited(worker);
    assert.strictEqual(worker.exitCode, status, `${label}: ${log.join('')}`);
    assert.strictEqual(await raw.getJobState(job.id), state, label);
    await raw.close();
  }
});
