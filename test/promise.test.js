'use strict';
// The promise API: outcomes, the stop answer, cancellation, module
// exceptions, call order and an event loop left free during long runs.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { Worker } = require('node:worker_threads');

const root = path.join(__dirname, '..');
const zel = require(root);
const { testCatalog, makeScratchApp } = require('./support/scratch_app');
const { untilSleeping } = require('./support/sleeping');

// A scratch application whose "calc" pack has one form per fixture module.
function makeApp(prefix = 'M') {
  const { app, syntax } = makeScratchApp({
    tag: 'promise',
    modules: { printer: 'echo_module', counter: 'counter_module', halt: 'stop_module',
      thrower: 'throwing_module', guard: 'exit_guard_module', nap: 'sleep_module' },
    forms: 'print (printer)\ncount (counter)\nstop (halt)\nboom (thrower)\nguard (guard)\nsleep (nap)\n' +
      'gone (missing)\nbroken (broken)\n',
    catalog: testCatalog(prefix),
  });
  // A file that is there but is no shared object: the loader refuses it.
  fs.writeFileSync(path.join(app, 'node_modules', 'calc', 'broken.so'), 'not a shared object');
  const program = (name, lines) => {
    const file = path.join(app, name);
    fs.writeFileSync(file, [':s:calc.zel;', ...lines].join('\n') + '\n');
    return file;
  };
  // A script to compile: no line is too short to encipher.
  const source = (name, lines) => {
    const file = path.join(app, name);
    fs.writeFileSync(file, lines.join('\n') + '\n');
    return file;
  };
  return { app, syntax, program, source };
}

const { app, syntax, program, source } = makeApp();
// How a path in the home reads in an outcome: relative to the home.
const seen = (file) => path.relative(app, file);
const other = makeApp('N');
test.after(() => {
  fs.rmSync(app, { recursive: true, force: true });
  fs.rmSync(other.app, { recursive: true, force: true });
});

// A program of n statements that each call the printer.
function longProgram(n) {
  return program(`long${n}.txt`, Array.from({ length: n }, (_, i) => `print ${i};`));
}

test('each outcome kind carries its message number and line', async () => {
  const cases = [
    ['a module result', () => zel.exec(app, 'print x;', syntax),
      { result: `ran ${seen(syntax)};print x;`, message: null, line: null, failed: false }],
    ['a program file that cannot be opened', () => zel.run(app, path.join(app, 'none.txt')),
      { result: 'M1 none.txt', message: 1, line: null, failed: true }],
    ['a statement no form accepts, on its line',
      () => zel.run(app, program('nf.txt', ['print a;', '', 'nf such;'])),
      { result: 'M3 nf such', message: 3, line: 4, failed: true }],
    ['a lexical error', () => zel.exec(app, 'lex word;', syntax),
      { result: 'M2 bad word in lex word', message: 2, line: null, failed: true }],
    ['a module that cannot be found, on its line',
      () => zel.run(app, program('gone.txt', ['print a;', 'gone now;'])),
      { result: `M4 ${path.join('node_modules', 'calc', 'missing.so')}`, message: 4, line: 3, failed: true }],
    ['a pack that cannot be opened', () => zel.exec(app, 'print x;', path.join(app, 'nopack.zel')),
      { result: 'M1 nopack.zel', message: 1, line: null, failed: true }],
    ['a module the loader refuses', () => zel.exec(app, 'broken x;', syntax),
      { message: null, line: null, failed: true }],
    ['a finished compilation', () => zel.compile(source('ok.txt', [':s:calc.zel; header', 'print a long enough line;']), '.zel', { app }),
      { result: 'M10', message: 10, line: null, failed: false }],
    ['a failed compilation', () => zel.compile(source('short.txt', ['print a;']), '.zel', { app }),
      { result: 'M9', message: 9, line: null, failed: true }],
    ['a compilation with the catalogue of options.app',
      () => zel.compile(other.source('ok.txt', ['print a long enough line;']), '.zel', { app: other.app }),
      { result: 'N10', message: 10, line: null, failed: false }],
  ];
  // The first module result of a process is held back by a run; spend it.
  await zel.run(app, program('spend.txt', ['print spend;']));
  for (const [name, call, expected] of cases) {
    const outcome = await call();
    for (const [key, value] of Object.entries(expected)) {
      assert.deepStrictEqual(outcome[key], value, `${name}: ${key}`);
    }
    assert.strictEqual(outcome.stopped, false, name);
  }
});

test('arguments that are not strings reject with a TypeError', async () => {
  const calls = [
    () => zel.run(app, 42),
    () => zel.run(undefined, 'p.txt'),
    () => zel.exec(app, { toString: () => 'print x;' }, syntax),
    () => zel.exec(app, 'print x;'),
    () => zel.compile('a.txt', null),
    () => zel.compile('a.txt', '.zel', { app: 7 }),
    () => zel.run(app, 'p.txt', { timeout: -1 }),
    () => zel.run(app, 'p.txt', { signal: {} }),
  ];
  for (const call of calls) await assert.rejects(call(), TypeError);
  // The classic exports keep converting.
  assert.strictEqual(zel.Commandes(app, { toString: () => 'print 42;' }, syntax),
    `ran ${syntax};print 42;`);
});

test('a stop answer ends the run, resolves with stopped and spares the process', async () => {
  const stopped = await zel.run(app, program('stop.txt', ['print before;', 'stop now;', 'print after;']));
  assert.deepStrictEqual(stopped,
    { result: 'M12', stopped: true, message: 12, line: 3, failed: false, diagnostics: [] });
  assert.strictEqual((await zel.exec(app, 'stop now;', syntax)).stopped, true);
  // The next call runs normally, and the stop does not carry over.
  const next = await zel.exec(app, 'print next;', syntax);
  assert.deepStrictEqual([next.result, next.stopped], [`ran ${seen(syntax)};print next;`, false]);

  const worker = new Worker(`
    const { parentPort, workerData } = require('node:worker_threads');
    const zel = require(workerData.root);
    zel.exec(workerData.app, 'stop now;', workerData.syntax).then((o) => parentPort.postMessage(o));
  `, { eval: true, workerData: { root, app, syntax } });
  // Listened for at once: a worker that ends before its message is handled
  // has the message and then 'exit' emitted in one go.
  const exited = new Promise((resolve) => worker.once('exit', resolve));
  const fromWorker = await new Promise((resolve, reject) => {
    worker.once('message', resolve);
    worker.once('error', reject);
  });
  assert.strictEqual(fromWorker.stopped, true);
  assert.strictEqual(await exited, 0);
});

test('the classic stop ends the process with status 0, running exit handlers on the main thread', () => {
  const stopNow = `require(${JSON.stringify(root)}).Commandes(${JSON.stringify(app)}, 'stop now;', ${JSON.stringify(syntax)})`;
  // [script, [exit status, standard output]]: the call never returns; exit
  // handlers run on the main thread; from a worker the whole process ends.
  const cases = [
    [`${stopNow}; console.log('returned');`, [0, '']],
    [`process.on('exit', (code) => console.log('exit handler', code)); ${stopNow}; console.log('returned');`,
      [0, 'exit handler 0\n']],
    [`const { Worker } = require('node:worker_threads');
      new Worker(${JSON.stringify(stopNow)}, { eval: true }).on('exit', () => console.log('worker gone'));
      setTimeout(() => { console.log('still here'); process.exit(3); }, 5000);`, [0, '']],
  ];
  for (const [script, expected] of cases) {
    const child = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8' });
    assert.deepStrictEqual([child.status, child.stdout], expected, script);
  }
});

test('abort and timeout end a run between two statements; the next call works', async () => {
  const long = longProgram(200000);
  await assert.rejects(zel.run(app, long, { timeout: 20 }), { name: 'TimeoutError' });
  const controller = new AbortController();
  setTimeout(() => controller.abort(), 20);
  await assert.rejects(zel.run(app, long, { signal: controller.signal }), { name: 'AbortError' });
  // Aborted while still waiting in the queue: never reaches the engine.
  const waiting = new AbortController();
  const first = assert.rejects(zel.run(app, long, { timeout: 20 }), { name: 'TimeoutError' });
  const queued = assert.rejects(zel.exec(app, 'count queued;', syntax, { signal: waiting.signal }),
    { name: 'AbortError' });
  waiting.abort();
  await Promise.all([first, queued]);
  await assert.rejects(zel.exec(app, 'print x;', syntax, { signal: AbortSignal.abort() }), { name: 'AbortError' });
  const next = await zel.run(app, program('after.txt', ['print after;']));
  assert.strictEqual(next.result, 'ran after.txt;print after;');
});

test('an abort, then the time limit, during one module call rejects with AbortError; a short call behind a ' +
  'long one comes back while a later long call runs', async () => {
  const controller = new AbortController();
  const call = zel.run(app, program('nap.txt', ['sleep 1500;', 'print after;']), { signal: controller.signal, timeout: 1000 });
  await untilSleeping(process.pid);
  controller.abort();
  await assert.rejects(call, { name: 'AbortError' });
  const first = zel.exec(app, 'sleep 200;', syntax);
  const short = zel.exec(app, 'print short;', syntax);
  let laterDone = false;
  const later = zel.exec(app, 'sleep 1500;', syntax).then(() => { laterDone = true; });
  await short;
  await new Promise(setImmediate);
  assert.strictEqual(laterDone, false);
  await Promise.all([first, later]);
});

test('a call aborted while it waits in the queue never runs', async () => {
  const count = async () => Number((await zel.exec(app, 'count n;', syntax)).result.match(/^call (\d+)/)[1]);
  const before = await count();
  const waiting = new AbortController();
  const first = zel.run(app, longProgram(20000));
  const queued = zel.exec(app, 'count queued;', syntax, { signal: waiting.signal });
  waiting.abort();
  await Promise.all([first, assert.rejects(queued, { name: 'AbortError' })]);
  assert.strictEqual(await count(), before + 1);
});

test('a throwing module rejects with ZelError carrying its path and line', async () => {
  const thrown = zel.run(app, program('boom.txt', ['print a;', 'boom now;', 'print b;']));
  await assert.rejects(thrown, (error) => {
    assert.ok(error instanceof zel.ZelError);
    assert.strictEqual(error.code, 'ZEL_MODULE_THREW');
    assert.strictEqual(error.modulePath, path.join('node_modules', 'calc', 'thrower.so'));
    assert.strictEqual(error.line, 3);
    assert.match(error.message, /module failed on .*boom now;/);
    return true;
  });
  assert.strictEqual((await zel.exec(app, 'print next;', syntax)).result, `ran ${seen(syntax)};print next;`);
});

test('calls made at once run one at a time in call order', async () => {
  const first = (await zel.exec(app, 'count first;', syntax)).result.match(/^call (\d+)/)[1];
  // A long run first, so that the calls after it all wait for the engine.
  const long = zel.run(app, longProgram(20000));
  const promises = Array.from({ length: 20 }, (_, i) => (i % 2
    ? zel.exec(app, `count ${i};`, syntax)
    : zel.run(app, program(`count${i}.txt`, [`count ${i};`]))));
  await long;
  const results = (await Promise.all(promises)).map((o) => o.result.replace(/;.*;/, ';'));
  const expected = Array.from({ length: 20 }, (_, i) => `call ${Number(first) + 1 + i}: ` +
    (i % 2 ? `${seen(syntax)};count ${i};` : `count${i}.txt;count ${i};`).replace(/;.*;/, ';'));
  assert.deepStrictEqual(results, expected);
});

test('the event loop keeps ticking during a long run', async () => {
  const long = longProgram(200000);
  let ticks = 0;
  const timer = setInterval(() => { ticks += 1; }, 2);
  await zel.run(app, long);
  clearInterval(timer);
  // A run that blocked the loop would leave no tick before its answer (the
  // answer's continuation runs before any timer). Counting ticks, not the
  // longest gap between them, keeps a busy machine's late timers from
  // failing a run that never blocked.
  assert.ok(ticks >= 3, `${ticks} ticks during the run`);
});

test('a call in flight when the host exits leaves its exit status alone', () => {
  const guarded = program('guarded.txt', Array(200000).fill('guard x;'));
  const run = `require(${JSON.stringify(root)}).run(${JSON.stringify(app)}, ${JSON.stringify(guarded)});`;
  const cases = [
    ['main thread', `${run} setTimeout(() => process.exit(7), 50);`],
    ['worker', `new (require('node:worker_threads').Worker)(${JSON.stringify(run)}, { eval: true });
      setTimeout(() => process.exit(7), 300);`],
  ];
  for (const [name, script] of cases) {
    const r = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8' });
    assert.deepStrictEqual([r.status, r.signal], [7, null], `${name}: ${r.stderr}`);
  }
});

test('two copies of the promise API in one thread each settle their own calls', async () => {
  const copy = require('../lib/promise').promiseApi(require('../lib/addon').load());
  const results = await Promise.all([zel.exec(app, 'print 1;', syntax), copy.exec(app, 'print 2;', syntax)]);
  assert.deepStrictEqual(results.map((o) => o.result), [`ran ${seen(syntax)};print 1;`, `ran ${seen(syntax)};print 2;`]);
});
