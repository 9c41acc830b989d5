'use strict';
// One timeout contract: a call's limit counts from when it is made, waiting
// included, and the call rejects at its deadline even while a module holds
// the engine; the run then ends at its next statement.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const zel = require(root);
const { makeScratchApp } = require('./support/scratch_app');

const { app, syntax } = makeScratchApp({
  tag: 'timeout', modules: { nap: 'sleep_module', counter: 'counter_module' },
  forms: 'sleep (nap)\ncount (counter)\n',
});
test.after(() => fs.rmSync(app, { recursive: true, force: true }));
const limit = { timeout: 60000 };  // no test here may hang the suite

test('in process and in a pool, calls reject at their deadlines, waiting or held', limit, async (t) => {
  const pool = zel.createPool({ size: 1, killAfter: 300 });
  t.after(() => pool.close());
  for (const [via, api] of [['in process', zel], ['pool', pool]]) {
    const events = [];
    const note = (name, call) => call.then((o) => events.push(`${name} ${o.result.split(':')[0]}`),
      (error) => events.push(`${name} ${error.name}`));
    // The module holds the engine well past both limits; in the pool it
    // holds its child past killAfter, and a new child runs what follows.
    await Promise.all([
      note('held', api.run(app, { text: ':s:calc.zel;\nsleep 1500;\ncount;\n' }, { timeout: 100 })),
      note('queued', api.exec(app, 'count;', syntax, { timeout: 50 })),
      note('after', api.exec(app, 'count;', syntax)),
    ]);
    // The held run ended before its "count;": the counter's first call is after's.
    assert.deepStrictEqual(events, ['queued TimeoutError', 'held TimeoutError', 'after call 1'], via);
  }
});

test('zel run --timeout exits 1 at its deadline while a module holds the engine', limit, () => {
  const r = spawnSync(process.execPath, [path.join(root, 'bin', 'zel'), 'run', '-', '--app', app,
    '--timeout', '100'], { input: ':s:calc.zel;\nsleep 20000;\n', encoding: 'utf8', timeout: 10000 });
  assert.deepStrictEqual([r.status, r.stderr], [1, 'zel run: The zel call timed out after 100 ms\n']);
});
