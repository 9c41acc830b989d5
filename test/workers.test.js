'use strict';
// Worker threads of one process share the engine: overlapping calls must
// run one after another, every result right.
const test = require('node:test');
require('./support/time_limit').timeLimit(600);
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { Worker } = require('node:worker_threads');
const { makeScratchApp } = require('./support/scratch_app');

const root = path.join(__dirname, '..');
const fixtures = path.join(root, 'build', 'test', 'fixtures');

function makeApp() {
  const app = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-workers-'));
  const modules = path.join(app, 'node_modules');
  for (const dir of ['korrin_linux', 'calc', 'zel_linux']) fs.mkdirSync(path.join(modules, dir), { recursive: true });
  fs.copyFileSync(path.join(fixtures, 'keyword_syntax.so'), path.join(modules, 'korrin_linux', 'keyword_syntax.so'));
  fs.copyFileSync(path.join(fixtures, 'echo_module.so'), path.join(modules, 'calc', 'printer.so'));
  fs.copyFileSync(path.join(root, 'lang', 'lang.conf'), path.join(modules, 'zel_linux', 'lang.conf'));
  fs.writeFileSync(path.join(modules, 'calc.zel'), 'add (printer)\nshow (printer)\nprint (printer)\n');
  return app;
}

// Each worker runs its own statements and, now and then, compiles its own
// source, reporting every wrong result. The compiled program must match the
// one compiled alone beforehand (or be absent, for the failing source).
const workerSource = `
  const fs = require('node:fs');
  const { parentPort, workerData } = require('node:worker_threads');
  const zel = require(workerData.root);
  const { source, output, reference, compiled } = workerData.compile;
  const expectedOutput = fs.existsSync(reference) ? fs.readFileSync(reference) : null;
  const wrong = [];
  for (let i = 0; i < workerData.calls; i++) {
    const statement = 'print worker ' + workerData.id + ' call ' + i + ';';
    const result = zel.Commandes(workerData.app, statement, workerData.syntax);
    const expected = 'ran ' + workerData.syntax + ';' + statement;
    if (result !== expected) wrong.push(result);
    if (i % 25 !== 0) continue;
    const message = zel.Compiler(source, '.zel');
    if (message !== compiled) wrong.push(source + ': ' + message);
    const written = fs.existsSync(output) ? fs.readFileSync(output) : null;
    const same = written === null ? expectedOutput === null
                                  : expectedOutput !== null && written.equals(expectedOutput);
    if (!same) wrong.push(output + ' differs');
  }
  parentPort.postMessage(wrong);
`;

// A source for each worker, with long lines (written piece by piece) among
// short ones; the first one holds a line too short to compile.
function writeSources(app, count) {
  const sources = [];
  for (let id = 0; id < count; id++) {
    const long = ('worker ' + id + ' ').repeat(12000 + 1000 * id);
    const lines = ['## source of worker ' + id, '', 'print worker ' + id + ';', long, long + ' again;'];
    if (id === 0) lines.push('twelve bytes');
    sources.push(path.join(app, 'worker' + id + '.txt'));
    fs.writeFileSync(sources[id], lines.join('\n') + '\n');
  }
  return sources;
}

test('Commandes and Compiler calls from several workers at once all come out right', { timeout: 120000 }, async () => {
  const app = makeApp();
  const cwd = process.cwd();
  try {
    process.chdir(app);  // the request log goes to the working directory
    const syntax = path.join(app, 'node_modules', 'calc.zel');
    const zel = require(root);
    zel.Commandes(app, 'print first;', syntax);  // the catalogue is the application's
    const compiles = writeSources(app, 6).map((source) => {
      const reference = source.replace('.txt', '-alone.txt');
      fs.copyFileSync(source, reference);
      const compiled = zel.Compiler(reference, '.zel');
      return { source, output: source.replace('.txt', '.zel'), reference: reference.replace('.txt', '.zel'), compiled };
    });
    assert.match(compiles[0].compiled, /^Compilation failed/);
    assert.strictEqual(compiles[1].compiled, 'Compilation complete.');
    const runs = [];
    for (let id = 0; id < 6; id++) {
      const worker = new Worker(workerSource, {
        eval: true, workerData: { root, app, syntax, id, calls: 300, compile: compiles[id] },
      });
      runs.push(new Promise((resolve, reject) => {
        worker.once('message', resolve);
        worker.once('error', reject);
      }));
    }
    const wrong = (await Promise.all(runs)).flat();
    assert.deepStrictEqual(wrong.slice(0, 3), []);
  } finally {
    process.chdir(cwd);
    fs.rmSync(app, { recursive: true, force: true });
  }
});

test('workers awaiting long runs leave the libuv pool to the main thread', { timeout: 60000 }, async () => {
  const { app } = makeScratchApp({ tag: 'engine-thread', modules: { nap: 'sleep_module' }, forms: 'sleep (nap)\n' });
  const program = path.join(app, 'naps.txt');
  fs.writeFileSync(program, ':s:calc.zel;\n' + 'sleep 250;\n'.repeat(8));
  const stats = async () => {
    const start = process.hrtime.bigint();
    for (let i = 0; i < 50; i++) await fs.promises.stat('/');
    return process.hrtime.bigint() - start;
  };
  await stats();
  const alone = await stats();
  const workers = Array.from({ length: 4 }, () => new Worker(`
    const { parentPort, workerData } = require('node:worker_threads');
    require(workerData.root).run(workerData.app, workerData.program);
    parentPort.postMessage('started');
  `, { eval: true, workerData: { root, app, program } }));
  await Promise.all(workers.map((w) => new Promise((resolve) => w.once('message', resolve))));
  const busy = await stats();
  // Ending the workers withdraws their calls; the engine goes on.
  await Promise.all(workers.map((w) => w.terminate()));
  const zel = require(root);
  assert.strictEqual((await zel.exec(app, 'sleep 0;', path.join(app, 'node_modules', 'calc.zel'))).result, 'slept 0');
  fs.rmSync(app, { recursive: true, force: true });
  assert.ok(busy < alone * 10n, `50 stats took ${busy} ns beside the runs, ${alone} ns alone`);
});

// Workers that are ended, or a process that exits, while their promise
// calls are in flight: the outcomes are dropped and the host lives on, or
// exits with its own status.
test('ending workers with calls in flight leaves the host alive and its exit status', { timeout: 120000 }, async (t) => {
  const { app, syntax } = makeScratchApp({ tag: 'ending', modules: { printer: 'echo_module' }, forms: 'print (printer)\n' });
  t.after(() => fs.rmSync(app, { recursive: true, force: true }));
  const busy = `
    const { parentPort, workerData: { root, app, syntax } } = require('node:worker_threads');
    const zel = require(root);
    const more = () => Promise.all(Array.from({ length: 20 }, (_, i) => zel.exec(app, 'print ' + i + ';', syntax)));
    const loop = () => more().then(loop);
    more().then(() => { parentPort.postMessage('busy'); loop(); });
  `;
  const start = () => new Worker(busy, { eval: true, workerData: { root, app, syntax } });
  for (let i = 0; i < 20; i++) {
    const worker = start();
    await new Promise((resolve) => worker.once('message', resolve));
    await worker.terminate();
  }
  const zel = require(root);
  assert.strictEqual((await zel.exec(app, 'print after;', syntax)).result, `ran ${path.relative(app, syntax)};print after;`);
  const exiting = `
    const { Worker } = require('node:worker_threads');
    const busy = ${JSON.stringify(busy)};
    const workers = Array.from({ length: 3 }, () => new Worker(busy, { eval: true, workerData: ${JSON.stringify({ root, app, syntax })} }));
    Promise.all(workers.map((w) => new Promise((resolve) => w.once('message', resolve)))).then(() => process.exit(7));
  `;
  const statuses = Array.from({ length: 30 }, () => spawnSync(process.execPath, ['-e', exiting]).status);
  assert.deepStrictEqual(statuses, Array(30).fill(7));
});
