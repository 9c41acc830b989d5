'use strict';
// Promise API benchmark: the round trip of `await exec(...)` beside one hop
// through the libuv pool (`await fs.promises.access(dir)`) and the
// synchronous Commandes for the same statement, on an idle machine and with
// the other core kept busy; then pool throughput for a batch of programs
// with 1 and with 2 children. Uses the sample application the build puts in
// build/sample.
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.join(__dirname, '..');
const zel = require(root);
const app = path.join(root, 'build', 'sample');
const syntax = path.join(app, 'node_modules', 'calculator.zel');
const statement = 'set width to 7;';

const now = () => Number(process.hrtime.bigint()) / 1e3;  // microseconds
const median = (values) => values.slice().sort((a, b) => a - b)[values.length >> 1];

// Microseconds per call of `calls` calls of `once`, each awaited.
async function block(calls, once) {
  const start = now();
  for (let i = 0; i < calls; i++) await once();
  return (now() - start) / calls;
}

const kinds = {
  exec: () => zel.exec(app, statement, syntax),
  hop: () => fs.promises.access(app),
  sync: () => zel.Commandes(app, statement, syntax),
};

// Blocks of each kind in turn, so that all three see the same machine;
// prints the medians of `rounds` blocks and the spread of the round trip.
async function roundTrips(label, rounds, calls) {
  const times = { exec: [], hop: [], sync: [] };
  for (let round = 0; round < rounds; round++) {
    for (const kind of Object.keys(kinds)) times[kind].push(await block(calls, kinds[kind]));
  }
  const m = Object.fromEntries(Object.keys(times).map((kind) => [kind, median(times[kind])]));
  const spread = `${Math.min(...times.exec).toFixed(1)}-${Math.max(...times.exec).toFixed(1)}`;
  console.log(`  ${label.padEnd(16)} await exec ${m.exec.toFixed(1)} us (rounds ${spread}), ` +
    `pool hop ${m.hop.toFixed(1)} us, Commandes ${m.sync.toFixed(2)} us: ` +
    `${(m.exec / (m.hop + m.sync)).toFixed(2)} x (hop + Commandes)`);
}

// Runs `work` while a child process spins on another core.
async function withBusyCore(work) {
  const child = spawn(process.execPath, ['-e', 'for (;;);'], { stdio: 'ignore' });
  try {
    await new Promise((resolve) => setTimeout(resolve, 100));
    await work();
  } finally {
    child.kill();
  }
}

async function roundTrip(rounds, calls) {
  for (const kind of Object.keys(kinds)) await block(2000, kinds[kind]);
  console.log(`round trip of "${statement}", medians of ${rounds} rounds of ${calls} calls:`);
  await roundTrips('idle', rounds, calls);
  await withBusyCore(() => roundTrips('other core busy', rounds, calls));
}

async function poolThroughput(size, programs) {
  const pool = zel.createPool({ size });
  // Children start and load the engine before the clock runs.
  await Promise.all(Array.from({ length: size * 2 }, () => pool.exec(app, statement, syntax)));
  const start = now();
  const outcomes = await Promise.all(programs.map((p) => pool.run(app, p)));
  const seconds = (now() - start) / 1e6;
  await pool.close();
  if (outcomes.some((o) => o.failed)) throw new Error('a program failed');
  return programs.length / seconds;
}

async function main() {
  await roundTrip(15, 2000);
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-bench-'));
  try {
    const lines = Array.from({ length: 20000 }, (_, i) => `set n to ${i};`).join('\n');
    const programs = Array.from({ length: 16 }, (_, i) => {
      const file = path.join(dir, `p${i}.txt`);
      fs.writeFileSync(file, `:s:calculator.zel;\n${lines}\n`);
      return file;
    });
    const one = await poolThroughput(1, programs);
    const two = await poolThroughput(2, programs);
    console.log(`pool, ${programs.length} programs of 20,000 statements:`);
    console.log(`  1 child    ${one.toFixed(1)} programs/s`);
    console.log(`  2 children ${two.toFixed(1)} programs/s (${(two / one).toFixed(2)}x)`);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
