'use strict';
// The promise API: run, exec and compile do the engine's work on zel's
// engine worker (startEngineHost below; the add-on's own thread when the
// worker cannot run) and resolve to the call's outcome. The calls of every
// thread of the process wait in one queue inside the add-on and run one at
// a time, in the order they were made, so that no libuv pool thread
// ever waits for the engine and the host's file system, DNS and crypto work
// never queue behind programs. Each call is isolated: it starts from a
// clean engine state, and its result is what its own statements produced.
const path = require('node:path');
const { Worker, isMainThread } = require('node:worker_threads');

const { EVERY_RESULT, abortError, timeoutError, checkProgram, checkCall } = require('./errors');
const { loadedFile } = require('./addon');

// The catalogue a compilation without options.app takes its messages from.
const shippedCatalog = path.join(__dirname, '..', 'lang', 'lang.conf');

const { ZelError } = require('./zel_error');
const { userText } = require('./user_text');

// zel's engine worker (engine_worker.js) starts with the main thread's
// first promise call, never before: require('zel') and the classic exports
// do not pay for it. The calls made while it starts do not wait for it: a
// thread of the add-on's own runs them, has the worker run their
// JavaScript modules once it is up, and hands it the engine between calls.
// The worker does not keep the process alive; when it cannot start, the
// add-on's thread keeps the calls, and JavaScript modules cannot be called.
let asked = false;

function startEngineHost(binding) {
  if (asked || !isMainThread) return;
  asked = true;
  if (!binding.claimEngineHost()) return;
  let worker;
  try {
    worker = new Worker(path.join(__dirname, 'engine_worker.js'),
      { stdout: false, stderr: false, workerData: { addon: loadedFile() } });
  } catch {
    binding.abandonEngineHost();
    return;
  }
  worker.unref();
  // Before it serves, a worker that fails hands the calls to the add-on.
  worker.on('error', () => binding.abandonEngineHost());
  worker.on('exit', () => binding.abandonEngineHost());
}

// What a call for the application home `app` resolves to, from the
// engine's record of it; its texts are as a user may see them.
function outcomeOf(kind, record, { results, app }) {
  const safe = (text) => userText(text, app);
  const outcome = {
    result: safe(record.result), stopped: record.stopped, message: record.message || null,
    line: record.line || null, failed: record.failed,
    diagnostics: record.diagnostics.map((d) => ({
      line: d.line || null, message: d.message || null, text: safe(d.text),
    })),
  };
  // A message was needed and the catalogue cannot be read.
  if (record.noCatalog) outcome.code = 'ZEL_NO_CATALOGUE';
  // Each statement's result with its line, when asked for.
  if (results) outcome.results = record.results.map((r) => ({ line: r.line || null, text: safe(r.text) }));
  if (kind === 'compile') {
    outcome.output = safe(record.output);
    outcome.logged = record.logged;
  }
  return outcome;
}

// What the engine is asked to keep of each statement's result: false
// (nothing), true (up to 100, the rest counted, as failures are) or how
// many results and failures to list.
function resultsOption(results) {
  return results === EVERY_RESULT ? Number.MAX_SAFE_INTEGER : results === true;
}

// The promise API over one add-on binding (its hidden startCall and
// cancelCall).
class PromiseApi {
  constructor(binding) {
    this.binding = binding;
    // The calls of this thread that have not settled, by the add-on's number.
    this.jobs = new Map();
    // When the process exits, the engine thread must stop before the exit
    // frees what a call in progress uses.
    this.exitWatched = !isMainThread;
    // The add-on tells this copy's calls apart by this one function.
    this.settle = this.settle.bind(this);
  }

  // The add-on's callback, with the engine's record of the call (message
  // and line are 0 when there is none) and whether its time limit ended it.
  settle(number, record, timedOut) {
    const job = this.jobs.get(number);
    if (!job) return;  // settled at its deadline already: what it returns is dropped
    this.forget(number, job);
    if (record.textTooLong) {
      job.reject(new ZelError('zel: a text of the outcome is too long for a JavaScript string', {
        code: 'ZEL_TEXT_TOO_LONG', line: record.line || null,
      }));
    } else if (record.threw) {
      job.reject(new ZelError(userText(record.error, job.app), {
        code: 'ZEL_MODULE_THREW', modulePath: userText(record.modulePath, job.app) || null,
        line: record.line || null,
      }));
    } else if (record.cancelled) {
      job.reject(timedOut ? timeoutError(job.timeout) : abortError(job.signal));
    } else {
      job.resolve(outcomeOf(job.kind, record, job));
    }
  }

  // Bad arguments reject the promise with a TypeError; nothing is queued.
  call(kind, args, options) {
    try {
      const checked = checkCall(kind, args, options);
      const engineArgs = kind === 'compile' ? [...args, checked.app || ''] : args;
      return new Promise((resolve, reject) => {
        // The home whose paths a user sees relative to it.
        const app = kind === 'compile' ? checked.app || '' : args[0];
        this.enqueue({ kind, signal: checked.signal, timeout: checked.timeout,
          results: resultsOption(checked.results), app, resolve, reject }, engineArgs);
      });
    } catch (error) {
      return Promise.reject(error);
    }
  }

  // The call settles now: nothing of it is awaited any more.
  forget(number, job) {
    this.jobs.delete(number);
    clearTimeout(job.timer);
    if (job.signal) job.signal.removeEventListener('abort', job.onAbort);
  }

  // At its deadline a call rejects, even while a module call holds the
  // engine: a waiting call never runs, a running one ends before its next
  // statement, and whatever it returns later is dropped.
  watchDeadline(number, job) {
    job.timer = setTimeout(() => {
      if (!this.jobs.has(number)) return;
      this.forget(number, job);
      this.binding.cancelCall(number, true);
      // An abort asked for before the deadline stays the reason.
      job.reject(job.aborted ? abortError(job.signal) : timeoutError(job.timeout));
    }, job.timeout);
  }

  enqueue(job, [a, b, c]) {
    const { signal, timeout } = job;
    if (signal && signal.aborted) {
      job.reject(abortError(signal));
      return;
    }
    if (!this.exitWatched) {
      this.exitWatched = true;
      process.once('exit', (status) => this.binding.engineExiting(status));
    }
    startEngineHost(this.binding);
    // A time limit counts from this moment, time spent waiting included.
    const number = this.binding.startCall(this.binding.callKinds[job.kind], a, b, c, shippedCatalog,
      timeout === undefined ? -1 : timeout, this.settle, job.results);
    this.jobs.set(number, job);
    if (timeout !== undefined) this.watchDeadline(number, job);
    if (!signal) return;
    job.onAbort = () => {
      // Still waiting: it never reaches the engine. Otherwise a run ends
      // before its next statement and settles as cancelled.
      if (!this.binding.cancelCall(number, false)) {
        job.aborted = true;
        return;
      }
      this.forget(number, job);
      job.reject(abortError(signal));
    };
    signal.addEventListener('abort', job.onAbort, { once: true });
  }
}

// A run of a program file, or of a program given as { text } (a string or
// its bytes).
function runCall(api, appDir, program, options) {
  let checked;
  try {
    checked = checkProgram(program, { bytes: true });
  } catch (error) {
    return Promise.reject(error);
  }
  if (typeof checked === 'string') return api.call('run', [appDir, checked, ''], options);
  return api.call('runText', [appDir, checked.text, ''], options);
}

function promiseApi(binding) {
  const api = new PromiseApi(binding);
  return {
    run: (appDir, program, options) => runCall(api, appDir, program, options),
    exec: (appDir, statement, syntaxPath, options) =>
      api.call('exec', [appDir, statement, syntaxPath], options),
    // exec whose modules keep one state across calls (zelCallState), as a
    // session of statements typed by one user needs: for the repl only.
    execInSession: (appDir, statement, syntaxPath, options) =>
      api.call('execInSession', [appDir, statement, syntaxPath], options),
    compile: (sourcePath, outputSuffix, options) =>
      api.call('compile', [sourcePath, outputSuffix], options),
  };
}

module.exports = { promiseApi, ZelError };
