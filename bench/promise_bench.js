'use strict';
// Promise API benchmark: the round trip of `await exec(...)` against the
// synchronous Commandes for the same statement, and pool throughput for a
// batch of programs with 1 and with 2 children. Uses the sample application
// the build puts in build/sample.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.join(__dirname, '..');
const zel = require(root);
const app = path.join(root, 'build', 'sample');
const syntax = path.join(app, 'node_modules', 'calculator.zel');
const statement = 'set width to 7;';

const now = () => Number(process.hrtime.bigint()) / 1e3;  // microseconds

async function roundTrip(calls) {
  for (let i = 0; i < 1000; i++) zel.Commandes(app, statement, syntax);
  for (let i = 0; i < 1000; i++) await zel.exec(app, statement, syntax);
  let start = now();
  for (let i = 0; i < calls; i++) zel.Commandes(app, statement, syntax);
  const sync = (now() - start) / calls;
  start = now();
  for (let i = 0; i < calls; i++) await zel.exec(app, statement, syntax);
  const async = (now() - start) / calls;
  console.log(`round trip, ${calls} calls of "${statement}":`);
  console.log(`  Commandes         ${sync.toFixed(2)} us/call`);
  console.log(`  await exec(...)   ${async.toFixed(2)} us/call (${(async - sync).toFixed(2)} us more)`);
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
  await roundTrip(20000);
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
