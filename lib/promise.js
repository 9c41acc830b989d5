'use strict';
// The promise API: run, exec and compile do the engine's work on the
// add-on's engine thread and resolve to the call's outcome. The calls of
// every thread of the process wait in one queue inside the add-on and run
// one at a time, in the order they were made, so that no libuv pool thread
// ever waits for the engine and the host's file system, DNS and crypto work
// never queue behind programs. Each call is isolated: it starts from a
// clean engine state, and its result is what its own statements produced.
const path = require('node:path');
const { isMainThread } = require('node:worker_threads');

const { abortError, timeoutError, checkCall } = require('./errors');

const KIND = { run: 0, exec: 1, compile: 2 };
// The catalogue a compilation without options.app takes its messages from.
const shippedCatalog = path.join(__dirname, '..', 'lang', 'lang.conf');

const { ZelError } = require('./zel_error');

// What a call resolves to, from the engine's record of it.
function outcomeOf(kind, record) {
  const outcome = {
    result: record.result, stopped: record.stopped, message: record.message || null,
    line: record.line || null, failed: record.failed,
    diagnostics: record.diagnostics.map((d) => ({
      line: d.line || null, message: d.message || null, text: d.text,
    })),
  };
  // A message was needed and the catalogue cannot be read.
  if (record.noCatalog) outcome.code = 'ZEL_NO_CATALOGUE';
  if (kind === 'compile') {
    outcome.output = record.output;
    outcome.logged = !record.logSkipped;
  }
  return outcome;
}

// The promise API over one add-on binding (its hidden startCall and
// cancelCall).
function promiseApi(binding) {
  // The calls of this thread that have not settled, by the add-on's number.
  const jobs = new Map();
  // When the process exits, the engine thread must stop before the exit
  // frees what a call in progress uses.
  let exitWatched = !isMainThread;

  // The add-on's callback, with the engine's record of the call (message
  // and line are 0 when there is none) and whether its time limit ended it.
  function settle(number, record, timedOut) {
    const job = jobs.get(number);
    jobs.delete(number);
    if (job.signal) job.signal.removeEventListener('abort', job.onAbort);
    if (record.threw) {
      job.reject(new ZelError(record.error, {
        code: 'ZEL_MODULE_THREW', modulePath: record.modulePath || null, line: record.line || null,
      }));
    } else if (record.cancelled) {
      job.reject(timedOut ? timeoutError(job.timeout) : abortError(job.signal));
    } else {
      job.resolve(outcomeOf(job.kind, record));
    }
  }

  function enqueue(kind, args, options) {
    return new Promise((resolve, reject) => {
      const { signal, timeout } = options;
      if (signal && signal.aborted) {
        reject(abortError(signal));
        return;
      }
      if (!exitWatched) {
        exitWatched = true;
        process.once('exit', () => binding.engineExiting());
      }
      const [a, b, c] = args;
      // A time limit counts from the moment the call reaches the engine.
      const number = binding.startCall(KIND[kind], a, b, c, shippedCatalog,
        timeout === undefined ? -1 : timeout, settle);
      const job = { kind, signal, timeout, resolve, reject };
      jobs.set(number, job);
      if (!signal) return;
      job.onAbort = () => {
        // Still waiting: it never reaches the engine. Otherwise a run ends
        // before its next statement and settles as cancelled.
        if (!binding.cancelCall(number)) return;
        jobs.delete(number);
        reject(abortError(signal));
      };
      signal.addEventListener('abort', job.onAbort, { once: true });
    });
  }

  // Bad arguments reject the promise with a TypeError; nothing is queued.
  function call(kind, args, options) {
    try {
      const checked = checkCall(kind, args, options);
      const engineArgs = kind === 'compile' ? [...args, checked.app || ''] : args;
      return enqueue(kind, engineArgs, checked);
    } catch (error) {
      return Promise.reject(error);
    }
  }

  const run = (appDir, programPath, options) => call('run', [appDir, programPath, ''], options);
  const exec = (appDir, statement, syntaxPath, options) =>
    call('exec', [appDir, statement, syntaxPath], options);
  const compile = (sourcePath, outputSuffix, options) =>
    call('compile', [sourcePath, outputSuffix], options);

  return { run, exec, compile };
}

module.exports = { promiseApi, ZelError };
