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
const fs = require('node:fs');
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

// CPU ms used so far: by process `pid` (from /proc, in clock ticks of 10 ms),
// by this process, and by the Redis server (as its INFO reports).
const cpuOf = (pid) => fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ')
  .slice(11, 13).reduce((sum, ticks) => sum + Number(ticks) * 10, 0);
const ownCpu = () => { const { user, system } = process.cpuUsage(); return (user + system) / 1000; };
async function redisCpu(redis) {
  const info = await redis.info('cpu');
  const field = (name) => Number(new RegExp(`${name}:([\\d.]+)`).exec(info)[1]);
  return (field('used_cpu_user') + field('used_cpu_sys')) * 1000;
}

// Jobs/s of `s` as throughput gives it, and the CPU ms per job of each part:
// this client, Redis, and the workers together.
async function measured(s, redis) {
  const before = [ownCpu(), await redisCpu(redis), s.cpu()];
  const rate = await throughput(s.api, s.appName);
  const after = [ownCpu(), await redisCpu(redis), s.cpu()];
  const [client, server, workers] = after.map((x, i) => (x - before[i]) / (JOBS + 4));
  return { rate, cpu: { client, server, workers } };
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
  const cpu = () => children.reduce((sum, child) => sum + cpuOf(child.pid), 0);
  return { api: queue, appName: 'calc', close, cpu };
}

function poolSetUp(size) {
  const pool = zel.createPool({ size });
  return { api: pool, appName: app, close: () => pool.close(), cpu: () => 0 };
}

// One round: each set-up's jobs/s, then both latencies.
async function round(setUps, redis) {
  const rate = {};
  let cpu;
  for (const [label, s] of Object.entries(setUps)) {
    const one = await measured(s, redis);
    rate[label] = one.rate;
    if (label === 'one') cpu = one.cpu;
  }
  const queued = await latency(setUps.one.api, 'calc');
  const local = await latency(zel, app);
  return { ...rate, cpu, added: queued - local, queued, local };
}

// The Redis settings the figures were taken with.
async function settingsOf(redis) {
  const pairs = await redis.config('GET', 'appendonly', 'appendfsync', 'maxmemory-policy');
  const settings = [];
  for (let i = 0; i < pairs.length; i += 2) settings.push(`${pairs[i]} ${pairs[i + 1]}`);
  return settings.sort().join(', ');
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
  const part = (name) => m((r) => r.cpu[name]);
  const total = part('client') + part('server') + part('workers');
  console.log(`CPU per job with 1 worker: client ${fixed(part('client'), 2)} ms, Redis ${fixed(part('server'), 2)} ms, ` +
    `worker ${fixed(part('workers'), 2)} ms; ${fixed(total, 2)} ms in all, so 2 cores run at most ${fixed(2000 / total)} jobs/s ` +
    `(1.5x 1 worker is ${fixed(1.5 * m((r) => r.one))})`);
}

async function main() {
  const redis = await testRedis();
  if (redis.skip) throw new Error(redis.skip);
  const setUps = {};
  const client = new (require('ioredis'))(redis.url);
  try {
    Object.assign(setUps, { pool1: poolSetUp(1), pool2: poolSetUp(2) });
    Object.assign(setUps, { one: await queueSetUp(redis.url, 1), two: await queueSetUp(redis.url, 2) });
    const settings = await settingsOf(client);
    const rounds = [];
    for (let i = 0; i < ROUNDS; i++) rounds.push(await round(setUps, client));
    report(rounds, settings);
  } finally {
    client.quit();
    for (const s of Object.values(setUps)) await s.close();
    await redis.stop();
  }
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
