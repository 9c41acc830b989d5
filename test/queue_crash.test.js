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
  const { Queue, QueueEvents } = require('bullmq');
  const { hostname, port } = new URL(redis.url);
  const raw = new Queue(name, { connection: { host: hostname, port: Number(port) } });
  const events = new QueueEvents(name, { connection: raw.opts.connection });
  const queue = zel.createQueue({ connection: redis.url, queue: name, attempts: 1 });
  t.after(async () => {
    for (const w of workers) w.kill('SIGKILL');
    await Promise.all([queue.close(), raw.close(), events.close(), ...workers.map(exited)]);
  });
  const completions = new Map();
  events.on('completed', ({ jobId }) => completions.set(jobId, (completions.get(jobId) || 0) + 1));
  await events.waitUntilReady();

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
  while (completions.size < JOBS) await new Promise((r) => setTimeout(r, 20));
  assert.deepStrictEqual([...completions.values()].filter((n) => n !== 1), [], 'no job completed twice');
  assert.strictEqual(completions.size, JOBS);
  // Each kill left its job to be found stalled and run again.
  assert.strictEqual(log.join('').match(/stalled/g).length, KILLS, log.join(''));
});
