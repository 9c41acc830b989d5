'use strict';
// Queue benchmark: jobs/s of a batch of programs with one and with two zel
// worker processes on a local Redis, next to createPool(1) and (2) on the
// same programs, and the median time the queue adds to a one-statement exec
// over the in-process promise API. The four set-ups and the two latencies
// are measured in turn, round after round, and each figure is the median of
// its rounds (each ratio the median of the ratios of one round), so that a
// burst of load elsewhere on the machine moves one round, not the figure.
// Uses the sample application the build puts in build/sample, and a
// redis-server on PATH (or ZEL_TEST_REDIS_URL); prints the Redis settings.
const path = require('node:path');
const { spawn } = require('node:child_process');

const root = path.join(__dirname, '..');
const zel = require(root);
const { testRedis } = require(path.join(root, 'test', 'support', 'redis'));
const app = path.join(root, 'build', 'sample');
const JOBS = Number(process.env.QUEUE_BENCH_JOBS || 500);
const ROUNDS = Number(process.env.QUEUE_BENCH_ROUNDS || 5);
const LATENCY_CALLS = 200;
const statement = 'set width to 7;';
const text = [':s:calculator.zel;', ...Array.from({ length: 2000 }, (_, i) => `set v${i % 50} to ${i};`)].join('\n');

const now = () => Number(process.hrtime.bigint()) / 1e6;  // milliseconds
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

// Runs JOBS programs through `api` (the calls before the clock warm it up); jobs/s.
async function throughput(api, appName) {
  await Promise.all(Array.from({ length: 4 }, () => api.exec(appName, statement, 'calculator.zel')));
  const start = now();
  const outcomes = await Promise.all(Array.from({ length: JOBS }, () => api.run(appName, { text })));
  if (outcomes.some((o) => o.failed)) throw new Error('a program failed');
  return JOBS / ((now() - start) / 1000);
}

// The median ms of one exec awaited at a time.
async function latency(api, appName) {
  for (let i = 0; i < 20; i++) await api.exec(appName, statement, 'calculator.zel');
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

// A queue of its own with `workers` worker processes, kept for every round.
async function queueSetUp(url, workers) {
  const name = `bench-${process.pid}-${workers}`;
  const children = await startWorkers(url, name, workers);
  const queue = zel.createQueue({ connection: url, queue: name });
  const close = async () => {
    await queue.close();
    for (const child of children) child.kill('SIGTERM');
  };
  return { api: queue, appName: 'calc', close };
}

function poolSetUp(size) {
  const pool = zel.createPool({ size });
  return { api: pool, appName: app, close: () => pool.close() };
}

// One round: each set-up's jobs/s, then both latencies.
async function round(setUps) {
  const rate = {};
  for (const [label, s] of Object.entries(setUps)) rate[label] = await throughput(s.api, s.appName);
  const queued = await latency(setUps.one.api, 'calc');
  const local = await latency(zel, app);
  return { ...rate, added: queued - local, queued, local };
}

// The Redis settings the figures were taken with.
async function settingsOf(url) {
  const redis = new (require('ioredis'))(url);
  try {
    const pairs = await redis.config('GET', 'appendonly', 'appendfsync', 'maxmemory-policy');
    const settings = [];
    for (let i = 0; i < pairs.length; i += 2) settings.push(`${pairs[i]} ${pairs[i + 1]}`);
    return settings.sort().join(', ');
  } finally {
    redis.quit();
  }
}

function report(rounds, settings) {
  const m = (f) => median(rounds.map(f));
  const fixed = (x, digits = 0) => x.toFixed(digits);
  console.log(`${JOBS} jobs of a 2,000-statement program of the sample pack, median of ${rounds.length} rounds`);
  console.log(`(Redis: ${settings}):`);
  console.log(`  createPool(1)   ${fixed(m((r) => r.pool1))} jobs/s`);
  console.log(`  createPool(2)   ${fixed(m((r) => r.pool2))} jobs/s`);
  console.log(`  1 worker        ${fixed(m((r) => r.one))} jobs/s (${fixed(m((r) => r.one / r.pool1), 2)}x createPool(1); aim >= 0.8x)`);
  console.log(`  2 workers       ${fixed(m((r) => r.two))} jobs/s (${fixed(m((r) => r.two / r.one), 2)}x 1 worker; aim >= 1.5x)`);
  console.log(`one-statement exec, median of ${LATENCY_CALLS} a round: in process ${fixed(m((r) => r.local), 3)} ms, ` +
    `through the queue ${fixed(m((r) => r.queued), 3)} ms, added ${fixed(m((r) => r.added), 3)} ms (aim <= 1.5 ms)`);
  const each = (f, digits) => rounds.map((r) => fixed(f(r), digits)).join(' ');
  console.log(`each round: 1 worker/createPool(1) ${each((r) => r.one / r.pool1, 2)}; ` +
    `2 workers/1 ${each((r) => r.two / r.one, 2)}; added ms ${each((r) => r.added, 2)}`);
}

async function main() {
  const redis = await testRedis();
  if (redis.skip) throw new Error(redis.skip);
  const setUps = {};
  try {
    Object.assign(setUps, { pool1: poolSetUp(1), pool2: poolSetUp(2) });
    Object.assign(setUps, { one: await queueSetUp(redis.url, 1), two: await queueSetUp(redis.url, 2) });
    const settings = await settingsOf(redis.url);
    const rounds = [];
    for (let i = 0; i < ROUNDS; i++) rounds.push(await round(setUps));
    report(rounds, settings);
  } finally {
    for (const s of Object.values(setUps)) await s.close();
    await redis.stop();
  }
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
