'use strict';
// JavaScript module benchmark: the cost of a statement whose pack module is
// JavaScript against the same statement with a native module, at 10,000
// statements, one syntax line and one (native) syntax module; through the
// classic Executer (the caller's thread) and the promise API's run (zel's
// engine worker). Then the first promise call of a fresh process, which
// starts the worker but runs on the add-on's own thread meanwhile, beside
// the second, beside a first call whose module is JavaScript (which waits
// for the worker) and beside an empty worker's start, and a
// one-statement `await exec` with the engine in the worker and, as before
// this host existed, on a thread of the add-on's own (the worker made
// unavailable), each beside a libuv pool hop and Commandes. Run after a
// build (uses build/test/fixtures).
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const now = () => Number(process.hrtime.bigint()) / 1e3;  // microseconds
const median = (values) => values.slice().sort((a, b) => a - b)[values.length >> 1];

// A scratch application whose pack "calc" runs `kw0 x;` with module m: the
// echo fixture (native) or its JavaScript twin.
function scratch() {
  const { makeScratchApp } = require('../test/support/scratch_app');
  const made = makeScratchApp({ tag: 'jsbench', modules: { m: 'echo_module' }, forms: 'kw0 <x> (m)\n' });
  const js = path.join(made.app, 'node_modules', 'jscalc');
  fs.mkdirSync(js);
  fs.writeFileSync(path.join(js, 'm.js'), "exports.execute = (input) => 'ran ' + input;\n");
  fs.writeFileSync(path.join(made.app, 'node_modules', 'jscalc.zel'), 'kw0 <x> (m)\n');
  return made.app;
}

// Processor microseconds per statement of 10,000-statement programs with
// the native and the JavaScript module, alternated so both see the same
// machine: medians of 15 each.
async function perStatement(zel, app, promise) {
  const once = async (pack) => {
    const file = path.join(app, `${pack}.txt`);
    fs.writeFileSync(file, `:s:${pack}.zel;\n${'kw0 x;\n'.repeat(10000)}`);
    // Processor time of the whole process, which a shared machine's other
    // work does not inflate as it does the clock.
    const start = process.cpuUsage();
    if (promise) await zel.run(app, file);
    else zel.Executer(app, file);
    const used = process.cpuUsage(start);
    return (used.user + used.system) / 10000;
  };
  const times = { calc: [], jscalc: [] };
  for (let i = 0; i < 16; i++) {
    for (const pack of Object.keys(times)) times[pack].push(await once(pack));
  }
  return [median(times.calc.slice(1)), median(times.jscalc.slice(1))];
}

// Round trips of a one-statement exec beside a pool hop and Commandes (us).
async function roundTrip(zel, app) {
  const syntax = path.join(app, 'node_modules', 'calc.zel');
  const kinds = {
    exec: () => zel.exec(app, 'kw0 x;', syntax),
    hop: () => fs.promises.access(app),
    sync: () => zel.Commandes(app, 'kw0 x;', syntax),
  };
  const times = { exec: [], hop: [], sync: [] };
  for (let round = 0; round < 15; round++) {
    for (const [kind, once] of Object.entries(kinds)) {
      const start = now();
      for (let i = 0; i < 1000; i++) await once();
      times[kind].push((now() - start) / 1000);
    }
  }
  const m = Object.fromEntries(Object.entries(times).map(([k, v]) => [k, median(v)]));
  return `await exec ${m.exec.toFixed(1)} us, pool hop ${m.hop.toFixed(1)} us, ` +
    `Commandes ${m.sync.toFixed(2)} us: ${(m.exec / (m.hop + m.sync)).toFixed(2)} x (hop + Commandes)`;
}

// One measurement in a fresh process: `what` is first-call, first-call-js, bare-worker,
// round-trip or round-trip-thread (the worker unavailable, so the add-on's
// own thread).
async function child(what, app) {
  if (what === 'bare-worker') {  // Node's own part of the start, for scale
    // Timed as the first call is, up to its answer (its ending is not timed).
    const { Worker } = require('node:worker_threads');
    const start = now();
    const worker = new Worker('require("node:worker_threads").parentPort.postMessage(0)', { eval: true });
    await new Promise((resolve) => worker.once('message', resolve));
    const took = (now() - start) / 1000;
    await worker.terminate();
    return took.toFixed(2);
  }
  if (what === 'round-trip-thread') {
    require('node:worker_threads').Worker = function Unavailable() { throw new Error('off'); };
  }
  const zel = require(root);
  const syntax = path.join(app, 'node_modules', 'calc.zel');
  if (what === 'first-call' || what === 'first-call-js') {
    const pack = what === 'first-call' ? syntax : path.join(app, 'node_modules', 'jscalc.zel');
    const times = [];
    for (let i = 0; i < 2; i++) {
      const start = now();
      await zel.exec(app, 'kw0 x;', pack);
      times.push(((now() - start) / 1000).toFixed(2));
    }
    return times.join(' ');
  }
  return roundTrip(zel, app);
}

function inChild(what, app) {
  const out = spawnSync(process.execPath, [__filename, what, app], { encoding: 'utf8' });
  if (out.status !== 0) throw new Error(out.stderr);
  return out.stdout.trim();
}

// The first promise call of fresh processes (it starts the engine worker),
// with a native and with a JavaScript module, beside an empty worker's
// start in other fresh processes, alternated so that all see the same
// machine: medians of 9 each, in ms.
function firstCalls(app) {
  const first = [], second = [], firstJs = [], bare = [];
  for (let i = 0; i < 9; i++) {
    const [a, b] = inChild('first-call', app).split(' ').map(Number);
    first.push(a);
    second.push(b);
    firstJs.push(Number(inChild('first-call-js', app).split(' ')[0]));
    bare.push(Number(inChild('bare-worker', app)));
  }
  const [f, s, j, w] = [first, second, firstJs, bare].map((times) => median(times));
  const range = (times) => `${Math.min(...times).toFixed(2)}-${Math.max(...times).toFixed(2)}`;
  return `fresh processes (9 each, medians): first promise call ${f.toFixed(2)} ms ` +
    `(${range(first)}), second ${s.toFixed(2)} ms; first with a JavaScript module ${j.toFixed(2)} ms ` +
    `(${range(firstJs)}); an empty worker's start ${w.toFixed(2)} ms (${range(bare)})`;
}

async function main() {
  const app = scratch();
  try {
    const zel = require(root);
    console.log('processor time of a statement at (10000,1,1), medians of 15 programs each:');
    for (const [way, promise] of [['Executer', false], ['run (worker)', true]]) {
      const [native, js] = await perStatement(zel, app, promise);
      console.log(`  ${way.padEnd(13)} native ${native.toFixed(3)} us, JavaScript ${js.toFixed(3)} us: ` +
        `+${(js - native).toFixed(3)} us`);
    }
    console.log(firstCalls(app));
    console.log(`one-statement exec, engine in the worker:        ${inChild('round-trip', app)}`);
    console.log(`one-statement exec, engine on the add-on's thread: ${inChild('round-trip-thread', app)}`);
  } finally {
    fs.rmSync(app, { recursive: true, force: true });
  }
}

if (process.argv[2]) {
  child(process.argv[2], process.argv[3]).then((line) => console.log(line));
} else {
  main().catch((error) => {
    console.error(error);
    process.exitCode = 1;
  });
}
