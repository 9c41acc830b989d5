'use strict';
// The queue against a real Redis: each job completes with the outcome (or
// the error) of the same call to the in-process promise API, a malformed job
// fails alone with the promise API's reason, an add repeated with the same
// jobId runs once, and a call whose job's event never comes still settles.
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const zlib = require('node:zlib');

const zel = require('..');
const { makeScratchApp } = require('./support/scratch_app');
const { testRedis, rawQueue, pause } = require('./support/redis');
const { errorOf } = require('../lib/queue/jobs');

const { app, syntax } = makeScratchApp({ tag: 'queue',
  modules: { printer: 'echo_module', halt: 'stop_module', nap: 'sleep_module', thrower: 'throwing_module' },
  forms: 'print (printer)\nstop (halt)\nsleep (nap)\nboom (thrower)\n' });
let redis;
test.before(async () => { redis = await testRedis(); });
test.after(() => fs.rmSync(app, { recursive: true, force: true }) ?? redis.stop?.());

// A source file in the application, for the compilations and the programs: its path.
const source = (lines) => fs.writeFileSync(path.join(app, 'program.txt'), lines.join('\n') + '\n') || path.join(app, 'program.txt');
// A call's settled value, comparable: its outcome, or its error's fields.
const settled = (promise) => promise.then((outcome) => ({ outcome }),
  ({ name, message, code }) => ({ error: { name, message, code } }));

// Compiles a source, then reads back the compiled file the call wrote.
async function compiled(api, appName, lines) {
  const output = path.join(app, 'program.zel');
  fs.rmSync(output, { force: true });
  const result = await settled(api.compile(source(lines), '.zel', { app: appName }));
  return { ...result, text: fs.existsSync(output) ? fs.readFileSync(output, 'latin1') : null };
}

test('the queue gives the promise API\'s outcomes', { timeout: 60000 }, async (t) => {
  if (redis.skip) return t.skip(redis.skip);
  const name = `table-${process.pid}`;
  const lines = [];
  const worker = zel.createWorker({ connection: redis.url, queue: name, apps: { calc: app }, log: (l) => lines.push(l) });
  const queue = zel.createQueue({ connection: redis.url, queue: name, attempts: 2 });
  const raw = rawQueue(redis.url, name);
  // Read from the stream's start: a listener reading from "now" misses what precedes its first read.
  const events = new (require('bullmq').QueueEvents)(name, { connection: raw.opts.connection, lastEventId: '0' });
  t.after(async () => { await Promise.all([queue.close(), raw.close(), events.close()]); await worker.close(); });
  // A job added as is, not through createQueue: its failure reason as the client reads it.
  const rawJob = async (data) => settled(raw.add('raw', data).then((job) => job.waitUntilFinished(events))
    .catch((error) => { throw errorOf(error.message); }));

  // A program file for the queue, which sends its text; the promise API is
  // given that text, as a module asking for the program's path sees none.
  const program = (api, lines, file = source([':s:calc.zel;', ...lines])) =>
    (api === zel ? { text: fs.readFileSync(file, 'utf8') } : file);
  const rows = [
    ['a program', (api, a) => api.run(a, program(api, ['print a;', 'print b;']))],
    ['a program given as text', (api, a) => api.run(a, { text: ':s:calc.zel;\nprint a;\n' })],
    ['a program that fails', (api, a) => api.run(a, program(api, ['print a;', 'nothing here;']))],
    ['each statement\'s result', (api, a) => api.run(a, program(api, ['print a;', 'nothing here;']), { results: true })],
    ['a program that stops', (api, a) => api.run(a, program(api, ['print a;', 'stop;', 'print b;']))],
    ['a timeout', (api, a) => api.run(a, program(api, ['sleep 100;', 'sleep 100;', 'sleep 100;']), { timeout: 50 })],
    ['a statement', (api, a, s) => api.exec(a, 'print a;', s)],
    ['a statement no form accepts', (api, a, s) => api.exec(a, 'nothing here;', s)],
    ['a stop', (api, a, s) => api.exec(a, 'stop;', s)],
    ['a module that throws', (api, a, s) => api.exec(a, 'boom;', s)],
    ['every pack', (api, a) => api.exec(a, 'print b;', '*.*')],
    ['a long program, sent deflated', (api, a) => api.run(a, program(api, Array.from({ length: 400 }, (_, i) => `print жé ${i};`)))],
    ['a compilation', (api, a) => compiled(api, a, [':s:calc.zel; header', 'print a long enough line;'])],
    ['a long compilation, its bytes sent deflated', (api, a) => compiled(api, a, [':s:calc.zel; header', ...Array(600).fill('print é;')])],
    ['a failed compilation', (api, a) => compiled(api, a, ['print a;'])],
  ];
  for (const [label, call] of rows) {
    const local = await settled(call(zel, app, syntax));
    assert.deepStrictEqual(await settled(call(queue, 'calc', 'calc.zel')), local, label);
  }

  const bad = [
    ['an unknown application', { op: 'exec', app: 'nope', statement: 'print a;', syntax: 'calc.zel' }, /^TypeError: unknown application "nope"/],
    ['a statement of the wrong type', { op: 'exec', app: 'calc', statement: 5, syntax: 'calc.zel' },
      new RegExp(`^TypeError: ${(await settled(zel.exec(app, 5, syntax))).error.message}$`)],
    ['a syntax outside the application', { op: 'exec', app: 'calc', statement: 'print a;', syntax: '../../x.zel' }, /^TypeError: .*below the application's node_modules/],
    ['no op', { app: 'calc' }, /^TypeError: "op" must be/],
    ['a job format to come', { op: 'exec', app: 'calc', format: 3 }, /^TypeError: job format 3 is not one this worker reads/],
    ['a packed text that is not one', { op: 'run', app: 'calc', format: 2, packed: { text: 'nope' } }, /^TypeError: "packed.text" is not a deflated text/],
    ['a packed text that inflates past the limit', { op: 'run', app: 'calc', format: 2,
      packed: { text: zlib.deflateRawSync(Buffer.alloc(65 << 20, 32)).toString('base64') } }, /^TypeError: "packed.text" is not a deflated text/],
    ['a time limit of the wrong type', { op: 'exec', app: 'calc', statement: 'print a;', syntax: 'calc.zel', options: { timeout: 'x' } }, /^TypeError: options.timeout/],
  ];
  for (const [label, data, expected] of bad) {
    const { error } = await rawJob(data);
    assert.match(`${error && error.name}: ${error && error.message}`, expected, label);
  }
  // A job added while others run, held ahead by the busy worker: its time
  // limit counts from its start on the worker.
  const slow = ':s:calc.zel;\nsleep 100;\nsleep 100;\nsleep 100;\n';
  const [, , ahead] = await Promise.all([queue.run('calc', { text: slow }), queue.run('calc', { text: slow }),
    queue.exec('calc', 'print ahead;', 'calc.zel', { timeout: 50 })]);
  assert.match(ahead.result, /ahead;$/);
  // An abort of a running job rejects its call at once; the worker ends the job.
  const abort = new AbortController();
  const aborted = queue.run('calc', { text: ':s:calc.zel;\nsleep 100;\nsleep 100;\n' }, { signal: abort.signal });
  while ((await raw.getActiveCount()) === 0) await pause(5);
  abort.abort();
  await assert.rejects(aborted, { name: 'AbortError' });
  // The worker went on, and logged one line per failed job.
  assert.match((await queue.exec('calc', 'print after;', 'calc.zel')).result, /print after;$/);
  // The timeout was retried once (attempts: 2); nothing else was.
  assert.deepStrictEqual(lines.map((l) => / failed, will retry /.test(l)),
    [true, ...Array(3 + bad.length).fill(false)], lines.join('\n'));

  // Two adds with one jobId: one job runs, both calls get its outcome.
  const before = await raw.getCompletedCount();
  const twice = await Promise.all([1, 2].map(() => queue.exec('calc', 'print once;', 'calc.zel', { jobId: `once-${process.pid}` })));
  assert.deepStrictEqual([twice[1], await raw.getCompletedCount()], [twice[0], before + 1]);
  // A job of a chosen id stays a day; one of a drawn id, a minute.
  const kept = new Set((await raw.getCompleted()).map((j) => `${j.id.startsWith('once-')} ${j.opts.removeOnComplete.age}`));
  assert.deepStrictEqual([...kept].sort(), ['false 60', 'true 86400']);
  // Finished jobs keep no texts: the worker strips them a few at a time, the
  // last ones as it closes.
  await worker.close();
  const finished = await raw.getJobs(['completed', 'failed']);
  assert.deepStrictEqual([...new Set(finished.flatMap((j) => Object.keys(j.data)))].sort(), ['app', 'op']);
});

// A job whose end is in Redis but whose event never came (written here as a
// worker would, without the event): the periodic lookup settles its call,
// and close() waits for the calls already made.
test('a call settles without its job\'s event', { timeout: 20000 }, async (t) => {
  if (redis.skip) return t.skip(redis.skip);
  const queue = zel.createQueue({ connection: redis.url, queue: `lost-${process.pid}`, sweepEvery: 20 });
  const reader = new (require('ioredis'))(redis.url);
  t.after(() => reader.quit());
  const rows = [
    ['completed', ['returnvalue', '{"result":"done"}'], { outcome: { result: 'done' } }],
    ['failed', ['failedReason', 'stalled more than allowable limit'],
      { error: { name: 'ZelError', message: 'zel queue: stalled more than allowable limit', code: 'ZEL_CHILD_DIED' } }],
    ['completed after a failed attempt', ['failedReason', 'x', 'returnvalue', '{"result":"again"}'], { outcome: { result: 'again' } }],
  ];
  const calls = rows.map(([label]) => settled(queue.exec('calc', 'print a;', 'calc.zel', { jobId: label })));
  const closed = queue.close();
  for (const [label, fields] of rows) {
    const key = `bull:lost-${process.pid}:${label}`;
    while (!(await reader.exists(key))) await pause(5);
    await reader.hset(key, 'finishedOn', Date.now(), ...fields);
  }
  assert.deepStrictEqual(await Promise.all(calls), rows.map((row) => row[2]));
  await closed;
});

// Which jobs travel deflated (short ones stay readable by workers that read
// texts as they are), and that each comes back as it was sent.
test('long texts travel deflated and come back whole', { timeout: 20000 }, async () => {
  const { pack, unpack } = require('../lib/queue/packing');
  const long = 'print жé;\n'.repeat(500);
  const rows = [
    ['a statement', { op: 'exec', app: 'calc', statement: 'print a;', syntax: 'calc.zel' }, undefined],
    ['a short program', { op: 'run', app: 'calc', text: 'print a;\n'.repeat(300) }, undefined],
    ['a long program', { op: 'run', app: 'calc', text: long, options: { timeout: 5 } }, 2],
    ['a long source of bytes', { op: 'compile', source: Buffer.from(long).toString('latin1') }, 2],
    ['bytes that do not deflate', { op: 'compile', source: require('node:crypto').randomBytes(6000).toString('latin1') }, undefined],
  ];
  for (const [label, data, format] of rows) {
    const packed = await pack(data);
    assert.deepStrictEqual([packed.format, await unpack(packed)], [format, data], label);
  }
});

// Only a job Redis holds as finished loses its texts: an event that comes
// late, for a job that went back to wait for another attempt, strips nothing.
test('a job that will run again keeps its texts', { timeout: 20000 }, async (t) => {
  if (redis.skip) return t.skip(redis.skip);
  const { forgetTextsOnFinish } = require('../lib/queue/retention');
  const name = `keep-${process.pid}`;
  const raw = rawQueue(redis.url, name);
  const worker = new (require('bullmq').Worker)(name, null, { connection: raw.opts.connection, autorun: false });
  t.after(() => Promise.all([raw.close(), worker.close()]));
  const forgetter = forgetTextsOnFinish(worker);
  const data = { op: 'run', app: 'calc', text: 'print a;' };
  const [done, again] = [await raw.add('run', data), await raw.add('run', data)];
  const token = 'test-token';
  await (await worker.getNextJob(token)).moveToCompleted('{}', token, false);
  for (const job of [done, again]) worker.emit('completed', job);
  await forgetter.flush();
  const texts = await Promise.all([done, again].map(async ({ id }) => (await raw.getJob(id)).data.text));
  assert.deepStrictEqual(texts, [undefined, 'print a;']);
});

// Compiled programs that come back in one millisecond are each placed whole, under their own names.
test('compiled programs placed at once keep their own texts', { timeout: 20000 }, async (t) => {
  const { placeOutput } = require('../lib/queue/client');
  const texts = ['a', 'b', 'c'].map((n) => n.repeat(1 << 16));
  t.mock.method(Date, 'now', () => 0);
  await Promise.all(texts.map((x) => placeOutput({ failed: false, text: x }, path.join(app, `${x[0]}.txt`), '.zel')));
  assert.deepStrictEqual(texts.map((x) => fs.readFileSync(path.join(app, `${x[0]}.zel`), 'latin1')), texts);
});

// A module that still holds the engine after a job's time limit: the worker
// takes no more jobs, says why and tells its owner (the command line exits).
test('a worker whose engine a module holds takes no more jobs', { timeout: 20000 }, async (t) => {
  if (redis.skip) return t.skip(redis.skip);
  const name = `held-${process.pid}`;
  const lines = [];
  let held;
  const closed = new Promise((resolve) => { held = resolve; });
  const worker = zel.createWorker({ connection: redis.url, queue: name, apps: { calc: app }, ahead: 0,
    engineGrace: 200, onEngineHeld: held, log: (l) => lines.push(l) });
  const queue = zel.createQueue({ connection: redis.url, queue: name, attempts: 1 });
  const raw = rawQueue(redis.url, name);
  t.after(async () => { await Promise.all([queue.close(), raw.close()]); await worker.close(); });
  await assert.rejects(queue.exec('calc', 'sleep 1500;', 'calc.zel', { timeout: 100 }), { name: 'TimeoutError' });
  await closed;
  await raw.add('raw', { op: 'exec', app: 'calc', statement: 'print a;', syntax: 'calc.zel' });
  await pause(300);
  assert.strictEqual(await raw.getWaitingCount(), 1);
  assert.match(lines.join('\n'), /a module still holds the engine 200 ms after job \S+'s time limit; taking no more jobs/);
});
