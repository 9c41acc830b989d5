'use strict';
// Queue benchmark: jobs/s of a batch of programs with one and with two zel
// worker processes on a local Redis, next to createPool(1) and (2) on the
// same programs, and the median time the queue adds to a one-statement exec
// over the in-process promise API. Uses the sample application the build
// puts in build/sample, and a redis-server on PATH (or ZEL_TEST_REDIS_URL).
const path = require('node:path');
const { spawn } = require('node:child_process');

const root = path.join(__dirname, '..');
const zel = require(root);
const { testRedis } = require(path.join(root, 'test', 'support', 'redis'));
const app = path.join(root, 'build', 'sample');
const JOBS = Number(process.env.QUEUE_BENCH_JOBS || 1000);
const LATENCY_CALLS = 500;
const statement = 'set width to 7;';
const text = [':s:calculator.zel;', ...Array.from({ length: 2000 }, (_, i) => `set v${i % 50} to ${i};`)].join('\n');

const now = () => Number(process.hrtime.bigint()) / 1e6;  // milliseconds
const median = (xs) => xs.sort((a, b) => a - b)[Math.floor(xs.length / 2)];

// Runs JOBS programs through `api` (the ones before the clock warm it up); jobs/s.
async function throughput(api, appName) {
  await Promise.all(Array.from({ length: 4 }, () => api.exec(appName, statement, 'calculator.zel')));
  const start = now();
  const outcomes = await Promise.all(Array.from({ length: JOBS }, () => api.run(appName, { text })));
  if (outcomes.some((o) => o.failed)) throw new Error('a program failed');
  return JOBS / ((now() - start) / 1000);
}

// The median ms of one exec awaited at a time.
async function latency(api, appName) {
  for (let i = 0; i < 50; i++) await api.exec(appName, statement, 'calculator.zel');
  const times = [];
  for (let i = 0; i < LATENCY_CALLS; i++) {
    const start = now();
    await api.exec(appName, statement, 'calculator.zel');
    times.push(now() - start);
  }
  return median(times);
}

// `count` worker processes on `queue`, resolved once each takes jobs.
function startWorkers(url, queue, count) {
  return Promise.all(Array.from({ length: count }, () => new Promise((resolve, reject) => {
    const child = spawn(process.execPath, [path.join(root, 'bin', 'zel'), 'worker', '--redis', url,
      '--queue', queue, '--app', `calc=${app}`], { stdio: ['ignore', 'ignore', 'pipe'] });
    child.stderr.on('data', (d) => { if (String(d).includes('taking jobs')) resolve(child); });
    child.once('exit', (code) => reject(new Error(`a worker ended (${code})`)));
  })));
}

async function queueFigures(url, workers) {
  const name = `bench-${process.pid}-${workers}`;
  const children = await startWorkers(url, name, workers);
  const queue = zel.createQueue({ connection: url, queue: name });
  try {
    const rate = await throughput(queue, 'calc');
    return { rate, latency: workers === 1 ? await latency(queue, 'calc') : null };
  } finally {
    await queue.close();
    for (const child of children) child.kill('SIGTERM');
  }
}

async function poolRate(size) {
  const pool = zel.createPool({ size });
  try {
    return await throughput(pool, app);
  } finally {
    await pool.close();
  }
}

async function main() {
  const redis = await testRedis();
  if (redis.skip) throw new Error(redis.skip);
  try {
    const pool1 = await poolRate(1);
    const pool2 = await poolRate(2);
    const one = await queueFigures(redis.url, 1);
    const two = await queueFigures(redis.url, 2);
    const local = await latency(zel, app);
    console.log(`${JOBS} jobs of a 2,000-statement program of the sample pack:`);
    console.log(`  createPool(1)   ${pool1.toFixed(0)} jobs/s`);
    console.log(`  createPool(2)   ${pool2.toFixed(0)} jobs/s`);
    console.log(`  1 worker        ${one.rate.toFixed(0)} jobs/s (${(one.rate / pool1).toFixed(2)}x createPool(1); aim >= 0.8x)`);
    console.log(`  2 workers       ${two.rate.toFixed(0)} jobs/s (${(two.rate / one.rate).toFixed(2)}x 1 worker; aim >= 1.5x)`);
    console.log(`one-statement exec, median of ${LATENCY_CALLS}: in process ${local.toFixed(3)} ms, ` +
      `through the queue ${one.latency.toFixed(3)} ms, added ${(one.latency - local).toFixed(3)} ms (aim <= 1.5 ms)`);
  } finally {
    await redis.stop();
  }
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
