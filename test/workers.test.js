'use strict';
// Worker threads of one process share the engine: overlapping calls must
// run one after another, every result right.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { Worker } = require('node:worker_threads');

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

// Each worker runs its own statements and reports every wrong result.
const workerSource = `
  const { parentPort, workerData } = require('node:worker_threads');
  const zel = require(workerData.root);
  const wrong = [];
  for (let i = 0; i < workerData.calls; i++) {
    const statement = 'print worker ' + workerData.id + ' call ' + i + ';';
    const result = zel.Commandes(workerData.app, statement, workerData.syntax);
    const expected = 'ran ' + workerData.syntax + ';' + statement;
    if (result !== expected) wrong.push(result);
  }
  parentPort.postMessage(wrong);
`;

test('many Commandes calls from several workers at once all come out right', async () => {
  const app = makeApp();
  try {
    const syntax = path.join(app, 'node_modules', 'calc.zel');
    const runs = [];
    for (let id = 0; id < 6; id++) {
      const worker = new Worker(workerSource, {
        eval: true, workerData: { root, app, syntax, id, calls: 300 },
      });
      runs.push(new Promise((resolve, reject) => {
        worker.once('message', resolve);
        worker.once('error', reject);
      }));
    }
    const wrong = (await Promise.all(runs)).flat();
    assert.deepStrictEqual(wrong.slice(0, 3), []);
  } finally {
    fs.rmSync(app, { recursive: true, force: true });
  }
});
