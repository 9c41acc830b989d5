'use strict';
// State a module keeps for one call: two alternating callers never see each
// other's, it is freed when each call ends, and the classic exports keep one
// for the whole process.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const zel = require(root);
const { makeScratchApp } = require('./support/scratch_app');

const { app, syntax } = makeScratchApp({ tag: 'state', modules: { tally: 'call_state_module' }, forms: 'tally (tally)\n' });
const sample = path.join(root, 'build', 'sample');
test.after(() => fs.rmSync(app, { recursive: true, force: true }));

test('per-call state: kept apart between alternating callers, freed after each', { timeout: 60000 }, async (t) => {
  const pool = zel.createPool({ size: 1 });
  t.after(() => pool.close());
  const twice = { text: ':s:calc.zel;\ntally;\ntally;\n' };
  for (const api of [zel, pool]) {
    const runs = [];
    for (let i = 0; i < 2; i++) {
      runs.push((await api.run(app, twice, { results: true })).results.map((r) => r.text));
      runs.push((await api.exec(app, 'tally;', syntax)).result);
    }
    const call = ['tally 1 live 1', 'tally 2 live 1'];
    assert.deepStrictEqual(runs, [call, 'tally 1 live 1', call, 'tally 1 live 1']);
    // The sample calculator's variables: one caller's are not the next one's.
    await api.exec(sample, 'set total to 5;', 'calculator.zel');
    assert.strictEqual((await api.exec(sample, 'add 1 to total;', 'calculator.zel')).result,
      'unknown variable total');
  }
  // The classic exports keep one state for the process; a promise call between them has its own.
  const classic = () => zel.Commandes(app, 'tally;', syntax);
  const seen = [classic(), classic(), (await zel.exec(app, 'tally;', syntax)).result, classic()];
  assert.deepStrictEqual(seen, ['tally 1 live 1', 'tally 2 live 1', 'tally 1 live 2', 'tally 3 live 1']);
});
