'use strict';
// The promise API: run, exec and compile do the engine's work on the libuv
// pool and resolve to the call's outcome. Calls wait in a JavaScript queue
// and go to the engine one at a time, in the order they were made, so that
// at most one pool thread is ever busy with (or waiting for) the engine and
// the host's file system, DNS and crypto work never queue behind programs.

const KIND = { run: 0, exec: 1, compile: 2 };

const { ZelError } = require('./zel_error');

function abortError(signal) {
  return new DOMException('The zel call was aborted', 'AbortError', { cause: signal.reason });
}

function timeoutError(ms) {
  return new DOMException(`The zel call timed out after ${ms} ms`, 'TimeoutError');
}

function checkString(value, name) {
  if (typeof value !== 'string') {
    throw new TypeError(`The "${name}" argument must be a string; received ${typeof value}`);
  }
}

// The options every call takes; `extra` names the string options of one call.
function checkOptions(options, extra = []) {
  if (options === undefined) return {};
  if (options === null || typeof options !== 'object') {
    throw new TypeError('The "options" argument must be an object');
  }
  const { signal, timeout } = options;
  if (signal !== undefined && !(signal instanceof AbortSignal)) {
    throw new TypeError('options.signal must be an AbortSignal');
  }
  if (timeout !== undefined && !(Number.isFinite(timeout) && timeout >= 0)) {
    throw new TypeError('options.timeout must be a non-negative number of milliseconds');
  }
  for (const name of extra) {
    if (options[name] !== undefined) checkString(options[name], `options.${name}`);
  }
  return options;
}

// The promise API over one add-on binding (its hidden startCall and
// cancelCall).
function promiseApi(binding) {
  const queue = [];
  let active = null;

  // The add-on's callback: flags 1 failed, 2 stopped, 4 cancelled, 8 threw;
  // message and line are 0 when there is none.
  function settle(job, result, message, line, flags, error, modulePath) {
    active = null;
    if (job.timer) clearTimeout(job.timer);
    if (job.signal) job.signal.removeEventListener('abort', job.onAbort);
    if (flags & 8) {
      job.reject(new ZelError(error, {
        code: 'ZEL_MODULE_THREW', modulePath: modulePath || null, line: line || null,
      }));
    } else if (flags & 4) {
      job.reject(job.ended === 'timeout' ? timeoutError(job.timeout) : abortError(job.signal));
    } else {
      job.resolve({
        result, stopped: (flags & 2) !== 0, message: message || null, line: line || null,
        failed: (flags & 1) !== 0,
      });
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
    binding.startCall(KIND[job.kind], a, b, c, settle.bind(null, job));
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
  function call(kind, names, args, options, extraOptions) {
    try {
      names.forEach((name, i) => checkString(args[i], name));
      const checked = checkOptions(options, extraOptions);
      const engineArgs = kind === 'compile' ? [...args, checked.app || ''] : args;
      return enqueue(kind, engineArgs, checked);
    } catch (error) {
      return Promise.reject(error);
    }
  }

  const run = (appDir, programPath, options) =>
    call('run', ['appDir', 'programPath'], [appDir, programPath, ''], options);
  const exec = (appDir, statement, syntaxPath, options) =>
    call('exec', ['appDir', 'statement', 'syntaxPath'], [appDir, statement, syntaxPath], options);
  const compile = (sourcePath, outputSuffix, options) =>
    call('compile', ['sourcePath', 'outputSuffix'], [sourcePath, outputSuffix], options, ['app']);

  return { run, exec, compile };
}

module.exports = { promiseApi, ZelError };
