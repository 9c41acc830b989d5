'use strict';
// createPool: calls spread over child processes, a child that dies is
// replaced, a call that runs on too long loses its child, no option a caller
// passes breaks the pool, and closing leaves no child behind; the contracts
// a pool shares with the promise API (time limits counted from the call,
// aborts, state kept for one call).
const test = require('node:test');
require('./support/time_limit').timeLimit(300);
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { getEventListeners } = require('node:events');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const zel = require(root);
const { makeScratchApp, testCatalog } = require('./support/scratch_app');

function makeApp() {
  return makeScratchApp({
    tag: 'pool',
    modules: { pid: 'pid_module', crash: 'crash_module', halt: 'stop_module', nap: 'sleep_module',
      counter: 'counter_module', ticker: 'counter_module', tally: 'call_state_module', did: 'statement_module' },
    forms: 'pid (pid)\ncrash (crash)\nstop (halt)\nsleep (nap)\ncount (counter)\ntick (ticker)\ntally (tally)\ndo (did)\n',
    catalog: testCatalog(),
  });
}

const { app, syntax } = makeApp();
const sample = path.join(root, 'build', 'sample');
const program = path.join(app, 'two.txt');
fs.writeFileSync(program, ':s:calc.zel;\npid;\npid;\n');
test.after(() => fs.rmSync(app, { recursive: true, force: true }));

const pidOf = (outcome) => Number(outcome.result.replace('pid ', ''));
const alive = (pid) => {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
};

test('a pool spreads calls over its children, survives a crash and closes them all', async (t) => {
  const pool = zel.createPool({ size: 2 });
  // A failed assertion must not leave children that keep this process alive.
  t.after(() => pool.close());
  const pids = new Set();
  const batch = async () => {
    for (const o of await Promise.all(Array.from({ length: 6 }, () => pool.exec(app, 'pid;', syntax)))) {
      assert.ok(o.result.startsWith('pid '), o.result);
      pids.add(pidOf(o));
    }
  };
  await batch();
  assert.strictEqual(pids.size, 2);
  assert.ok(!pids.has(process.pid));

  // The crash rejects its own call only; the calls beside it complete.
  const around = [pool.exec(app, 'pid;', syntax), pool.exec(app, 'crash now;', syntax),
    pool.exec(app, 'pid;', syntax)];
  const settled = await Promise.allSettled(around);
  assert.deepStrictEqual(settled.map((s) => s.status), ['fulfilled', 'rejected', 'fulfilled']);
  assert.strictEqual(settled[1].reason.code, 'ZEL_CHILD_DIED');
  // A stop answer ends the call, not the child.
  assert.strictEqual((await pool.exec(app, 'stop;', syntax)).stopped, true);
  await batch();
  assert.strictEqual(pids.size, 3, 'the crashed child was replaced by one new child');

  await pool.close();
  for (const pid of pids) assert.strictEqual(alive(pid), false, `child ${pid} still running`);
  await assert.rejects(pool.exec(app, 'pid;', syntax), /closed/);
});

test('a child that crashes again and again is replaced each time it was ready', async (t) => {
  const pool = zel.createPool({ size: 1 });
  t.after(() => pool.close());
  for (let i = 0; i < 5; i++) {
    await assert.rejects(pool.exec(app, 'crash now;', syntax), { code: 'ZEL_CHILD_DIED' });
    assert.match((await pool.exec(app, 'pid;', syntax)).result, /^pid /, `after crash ${i + 1}`);
  }
});

test('close lets the running and waiting calls finish', async () => {
  const pool = zel.createPool({ size: 1 });
  const calls = [pool.exec(app, 'sleep 300;', syntax), pool.exec(app, 'pid;', syntax)];
  const closed = pool.close();
  const [slept, pid] = await Promise.all(calls);
  assert.deepStrictEqual([slept.result, pid.result.startsWith('pid ')], ['slept 300', true]);
  await closed;
});

test('options are checked in the parent: a bad call rejects alone, its child free or busy', async (t) => {
  for (const bad of [{ size: 0 }, { killAfter: -1 }, { killAfter: '5' }, 5, null, 'big']) {
    assert.throws(() => zel.createPool(bad), TypeError);
  }
  const pool = zel.createPool({ size: 1 });
  t.after(() => pool.close());
  const circular = {};
  circular.self = circular;
  const badCalls = [
    () => pool.exec(app, 'pid;', syntax, { timeout: 1n }),
    () => pool.exec(app, 'pid;', syntax, { timeout: 2 ** 31 }),
    () => pool.run(app, 'p.txt', { signal: circular }),
    () => pool.compile('a.txt', '.zel', { app: circular }),
    () => pool.exec(app, 'pid;', syntax, null),
  ];
  for (const busy of [false, true]) {
    const running = busy ? pool.exec(app, 'sleep 200;', syntax) : null;
    for (const call of badCalls) await assert.rejects(call(), TypeError);
    // Options the pool does not read are never sent to the child.
    const ignored = pool.exec(app, 'pid;', syntax, { tag: 1n, circular });
    if (running) assert.strictEqual((await running).result, 'slept 200');
    assert.match((await ignored).result, /^pid /);
  }
  await pool.close();
});

test('a call still running killAfter ms past its timeout or abort loses its child', async (t) => {
  const pool = zel.createPool({ size: 1, killAfter: 200 });
  t.after(() => pool.close());
  for (const [name, options] of [['TimeoutError', () => ({ timeout: 100 })],
    ['AbortError', () => ({ signal: AbortSignal.timeout(100) })],
    // An abort before the deadline stays the reason, given at the deadline.
    ['AbortError', () => ({ signal: AbortSignal.timeout(100), timeout: 150 })]]) {
    const before = pidOf(await pool.exec(app, 'pid;', syntax));
    const started = Date.now();
    const stuck = pool.exec(app, 'sleep 20000;', syntax, options())
      .catch((error) => ({ error, took: Date.now() - started, childAlive: alive(before) }));
    const [ended, next] = await Promise.all([stuck, pool.exec(app, 'pid;', syntax)]);
    assert.strictEqual(ended.error && ended.error.name, name);
    if (name === 'TimeoutError') {
      // A timeout rejects at its deadline, before the child is killed.
      assert.ok(ended.childAlive, 'TimeoutError only once the child was killed');
    } else if (!options().timeout) {
      assert.ok(ended.took >= 290, `${name} after ${ended.took} ms, before timeout + killAfter`);
    }
    assert.ok(pidOf(next) !== before && !alive(before), `${name}: the child was not replaced`);
  }
  await pool.close();
});

// The contracts the promise API and a pool share: [what, check(api)].
const shared = [
  ['a limit of zero rejects a run every time; a signal that outlives its calls keeps no listener', async (api) => {
    const { signal } = new AbortController();
    for (let i = 0; i < 6; i++) {
      await assert.rejects(api.run(app, program, { timeout: 0, signal: i % 2 ? signal : undefined }), { name: 'TimeoutError' });
    }
    await api.exec(app, 'pid;', syntax, { signal });
    assert.strictEqual(getEventListeners(signal, 'abort').length, 0);
  }],
  ['a call aborted while it waits behind a long one never runs', async (api) => {
    const count = async () => Number((await api.exec(app, 'count;', syntax)).result.match(/^call (\d+)/)[1]);
    const before = await count();
    const waiting = new AbortController();
    const long = api.exec(app, 'sleep 300;', syntax);
    const queued = api.exec(app, 'count;', syntax, { signal: waiting.signal });
    waiting.abort();
    await Promise.all([long, assert.rejects(queued, { name: 'AbortError' })]);
    assert.strictEqual(await count(), before + 1);
  }],
  // A limit counts from the call, waiting included; the held run ends before
  // its "tick;" (in the pool its child is killed), so after's is the first.
  ['calls reject at their deadlines, waiting or held by a module', async (api) => {
    const events = [];
    const note = (name, call) => call.then((o) => events.push(`${name} ${o.result.split(':')[0]}`),
      (error) => events.push(`${name} ${error.name}`));
    await Promise.all([
      note('held', api.run(app, { text: ':s:calc.zel;\nsleep 1500;\ntick;\n' }, { timeout: 100 })),
      note('queued', api.exec(app, 'tick;', syntax, { timeout: 50 })),
      note('after', api.exec(app, 'tick;', syntax)),
    ]);
    assert.deepStrictEqual(events, ['queued TimeoutError', 'held TimeoutError', 'after call 1']);
  }],
  ['results: each statement\'s result with its line, in order, capped as diagnostics are', async (api) => {
    const { results } = await api.run(app, { text: ':s:calc.zel;\ndo a;\n## note\nnf b;\ndo c\n d;\n' }, { results: true });
    assert.deepStrictEqual(results, [{ line: 2, text: 'did do a' }, { line: 4, text: 'M3 nf b' }, { line: 6, text: 'did do c d' }]);
    const many = Array.from({ length: 120 }, (_, i) => `do ${i};`).join('\n');
    const capped = (await api.run(app, { text: `:s:calc.zel;\n${many}` }, { results: true })).results;
    assert.deepStrictEqual([capped.length, capped[99], capped[100]], [101, { line: 101, text: 'did do 99' },
      { line: null, text: '20 more results left out' }]);
    assert.strictEqual((await api.run(app, { text: 'x' })).results, undefined, 'only when asked for');
  }],
  ['state kept for one call: apart between alternating callers, freed after each', async (api) => {
    const runs = [];
    for (let i = 0; i < 2; i++) {
      runs.push((await api.run(app, { text: ':s:calc.zel;\ntally;\ntally;\n' }, { results: true })).results.map((r) => r.text));
      runs.push((await api.exec(app, 'tally;', syntax)).result);
    }
    const call = ['tally 1 live 1', 'tally 2 live 1'];
    assert.deepStrictEqual(runs, [call, 'tally 1 live 1', call, 'tally 1 live 1']);
    // The sample calculator's variables: one caller's are not the next one's.
    await api.exec(sample, 'set total to 5;', 'calculator.zel');
    assert.strictEqual((await api.exec(sample, 'add 1 to total;', 'calculator.zel')).result, 'unknown variable total');
  }],
];

test('the promise API and a pool share their contracts', async (t) => {
  const pool = zel.createPool({ size: 1, killAfter: 300 });
  t.after(() => pool.close());
  for (const [what, check] of shared) {
    for (const [via, api] of [['promise API', zel], ['pool', pool]]) await t.test(`${what} (${via})`, () => check(api));
  }
  // The classic exports keep one state for the process; a promise call between them has its own.
  const classic = () => zel.Commandes(app, 'tally;', syntax);
  const seen = [classic(), classic(), (await zel.exec(app, 'tally;', syntax)).result, classic()];
  assert.deepStrictEqual(seen, ['tally 1 live 1', 'tally 2 live 1', 'tally 1 live 2', 'tally 3 live 1']);
});

test('zel run --timeout exits 1 at its deadline while a module holds the engine', () => {
  const r = spawnSync(process.execPath, [path.join(root, 'bin', 'zel'), 'run', '-', '--app', app,
    '--timeout', '100'], { input: ':s:calc.zel;\nsleep 20000;\n', encoding: 'utf8', timeout: 10000 });
  assert.deepStrictEqual([r.status, r.stderr], [1, 'zel run: The zel call timed out after 100 ms\n']);
});

test('a pool closed before its children are ready, or after one was replaced, ends them quietly', () => {
  const script = `
    const zel = require(${JSON.stringify(root)});
    const [app, syntax] = ${JSON.stringify([app, syntax])};
    zel.createPool({ size: 2 }).close();
    const pool = zel.createPool({ size: 1, killAfter: 10 });
    pool.exec(app, 'sleep 5000;', syntax, { timeout: 10 }).catch((e) => { console.log(e.name); pool.close(); });`;
  const r = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8' });
  assert.deepStrictEqual([r.status, r.stdout, r.stderr], [0, 'TimeoutError\n', '']);
});

// A program given as text runs as the same program in a file outside the
// home would, and leaves nothing in the home.
test('a program text has the outcome of the same file: promise API, pool and zel run -', async (t) => {
  const pool = zel.createPool({ size: 1 });
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-text-files-'));
  t.after(async () => {
    await pool.close();
    fs.rmSync(dir, { recursive: true, force: true });
  });
  const fileOf = (name, text) => {
    const file = path.join(dir, `${name.replace(/\W+/g, '-')}.txt`);
    fs.writeFileSync(file, text);
    return file;
  };
  const zelRun = (program, input) => spawnSync(process.execPath,
    [path.join(root, 'bin', 'zel'), 'run', program, '--app', app], { input, encoding: 'utf8' });
  const source = fileOf('c', ':s:calc.zel; header line\ndo something long enough;\n');
  await zel.compile(source, '.zel', { app });
  // A pack whose file and folder names hold the byte E9, which is no UTF-8.
  const rawName = (name) => Buffer.from(path.join(app, 'node_modules', name), 'latin1');
  fs.mkdirSync(rawName('caf\xe9'));
  fs.copyFileSync(path.join(app, 'node_modules', 'calc', 'did.so'), rawName('caf\xe9/did.so'));
  fs.writeFileSync(rawName('caf\xe9.zel'), 'do (did)\n');
  const programs = [
    ['statements, a comment, a two-line statement, CRLF line ends',
      ':s:calc.zel;\r\n## note\r\ndo a;\r\n\r\ndo b\r\nand c;\r\n'],
    ['failures on their lines', ':s:calc.zel;\ndo a;\nnf such;\nlex word;\ndo z;\n'],
    ['a header that leaves node_modules', '\n:s:../../outside.zel;\ndo a;\n'],
    ['a pack that does not exist', ':s:none.zel;\ndo a;\n'],
    ['no final line break', ':s:calc.zel;\ndo a;'],
    ['compiled', fs.readFileSync(source.replace('.txt', '.zel'), 'utf8')],
    ['bytes that are no UTF-8', Buffer.from(':s:caf\xe9.zel;\ndo caf\xe9 \xff;\n', 'latin1')],
  ];
  const listing = () => fs.readdirSync(app, { recursive: true }).sort();
  const before = listing();
  for (const [name, text] of programs) {
    const file = fileOf(name, text);
    for (const [via, api] of [['promise', zel], ['pool', pool]]) {
      assert.deepStrictEqual(await api.run(app, { text }), await api.run(app, file), `${via}: ${name}`);
    }
    const [fromFile, fromStdin] = [zelRun(file, ''), zelRun('-', text)];
    assert.deepStrictEqual([fromStdin.status, fromStdin.stdout, fromStdin.stderr.replaceAll('<stdin>', file)],
      [fromFile.status, fromFile.stdout, fromFile.stderr], `zel run -: ${name}`);
  }
  assert.deepStrictEqual(listing(), before, 'nothing written into the home');
  for (const program of [undefined, null, 7, {}, { text: 7 }, { text: new Uint16Array(1) }]) await assert.rejects(zel.run(app, program), TypeError);
});

test('an error a child sends back keeps its type in the parent', () => {
  const { errorFromFields } = require('../lib/errors');
  const cases = [
    ['TypeError', TypeError], ['ZelError', zel.ZelError], ['AbortError', DOMException],
    ['TimeoutError', DOMException], ['RangeError', Error],
  ];
  for (const [name, Type] of cases) {
    const error = errorFromFields({ name, message: 'from the child', code: 'ZEL_MODULE_THREW' });
    assert.ok(error instanceof Type, name);
    assert.deepStrictEqual([error.name, error.message], [name, 'from the child']);
  }
});
