'use strict';
// Starts zel's engine worker (engine_worker.js) with the main thread's first
// promise call, never before: require('zel') and the classic exports do
// not pay for it. The worker does not keep the process alive; when it
// cannot start, the add-on runs the calls on a thread of its own, where
// JavaScript modules cannot be called.
const path = require('node:path');
const { Worker, isMainThread } = require('node:worker_threads');

let asked = false;

function startEngineHost(binding) {
  if (asked || !isMainThread) return;
  asked = true;
  if (!binding.claimEngineHost()) return;
  let worker;
  try {
    worker = new Worker(path.join(__dirname, 'engine_worker.js'), { stdout: false, stderr: false });
  } catch {
    binding.abandonEngineHost();
    return;
  }
  worker.unref();
  // Before it serves, a worker that fails hands the calls to the add-on.
  worker.on('error', () => binding.abandonEngineHost());
  worker.on('exit', () => binding.abandonEngineHost());
}

module.exports = { startEngineHost };
