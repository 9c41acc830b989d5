'use strict';
// The promise API: run, exec and compile do the engine's work on the libuv
// pool and resolve to the call's outcome. Calls wait in a JavaScript queue
// and go to the engine one at a time, in the order they were made, so that
// at most one pool thread is ever busy with (or waiting for) the engine and
// the host's file system, DNS and crypto work never queue behind programs.
// Each call is isolated: it starts from a clean engine state, and its
// result is what its own statements produced.
const path = require('node:path');

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
  const queue = [];
  let active = null;

  // The add-on's callback, with the engine's record of the call (message
  // and line are 0 when there is none).
  function settle(job, record) {
    active = null;
    if (job.timer) clearTimeout(job.timer);
    if (job.signal) job.signal.removeEventListener('abort', job.onAbort);
    if (record.threw) {
      job.reject(new ZelError(record.error, {
        code: 'ZEL_MODULE_THREW', modulePath: record.modulePath || null, line: record.line || null,
      }));
    } else if (record.cancelled) {
      job.reject(job.ended === 'timeout' ? timeoutError(job.timeout) : abortError(job.signal));
    } else {
      job.resolve(outcomeOf(job.kind, record));
    }
    next();
  }

  function cancel() {
    binding.cancelCall();
  }

  function next() {
    if (active || queue.length === 0) return;
    const job = queue.shift();
    active = job;
    const [a, b, c] = job.args;
    binding.startCall(KIND[job.kind], a, b, c, shippedCatalog, settle.bind(null, job));
    // A time limit counts from the moment the call reaches the engine.
    if (job.timeout !== undefined) {
      job.timer = setTimeout(() => {
        job.ended = 'timeout';
        cancel();
      }, job.timeout);
    }
  }

  function enqueue(kind, args, options) {
    return new Promise((resolve, reject) => {
      const { signal, timeout } = options;
      if (signal && signal.aborted) {
        reject(abortError(signal));
        return;
      }
      const job = { kind, args, signal, timeout, resolve, reject };
      job.onAbort = () => {
        if (job === active) {
          job.ended = 'abort';
          cancel();
          return;
        }
        // Still waiting: it never reaches the engine.
        queue.splice(queue.indexOf(job), 1);
        reject(abortError(signal));
      };
      if (signal) signal.addEventListener('abort', job.onAbort, { once: true });
      queue.push(job);
      next();
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
