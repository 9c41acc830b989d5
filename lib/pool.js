'use strict';
// createPool: the promise API over child processes, each with an engine of
// its own, so that programs run on several cores at once. A child runs one
// call at a time; calls wait in the pool's queue for the first free child.
// Engine state carries over between the calls one child runs, never from one
// child to another. A child that dies is replaced; only the call it was
// running fails.
const { fork } = require('node:child_process');
const os = require('node:os');
const path = require('node:path');
const { ZelError } = require('./promise');

const childScript = path.join(__dirname, 'pool-child.js');

function checkString(value, name) {
  if (typeof value !== 'string') {
    throw new TypeError(`The "${name}" argument must be a string; received ${typeof value}`);
  }
}

// Rebuilds in the parent the error a child sent back.
function errorFrom(fields) {
  if (fields.name === 'ZelError') {
    return new ZelError(fields.message, fields);
  }
  if (fields.name === 'AbortError' || fields.name === 'TimeoutError') {
    return new DOMException(fields.message, fields.name);
  }
  const error = new Error(fields.message);
  error.name = fields.name;
  return error;
}

function createPool({ size = os.availableParallelism ? os.availableParallelism() : os.cpus().length } = {}) {
  if (!Number.isInteger(size) || size < 1) throw new TypeError('size must be a positive integer');
  const queue = [];
  const slots = [];
  let nextId = 0;
  let closing = null;

  function startChild(slot) {
    const child = fork(childScript, [], { stdio: ['ignore', 'inherit', 'inherit', 'ipc'], execArgv: [] });
    slot.child = child;
    slot.job = null;
    child.on('message', (reply) => {
      if (reply.ready) {
        slot.failures = 0;
        return;
      }
      const job = slot.job;
      if (!job || reply.id !== job.id) return;
      slot.job = null;
      job.finish();
      if (reply.error) job.reject(errorFrom(reply.error));
      else job.resolve(reply.outcome);
      dispatch();
    });
    child.on('exit', (code, signal) => {
      if (slot.child !== child) return;
      slot.child = null;
      const job = slot.job;
      slot.job = null;
      if (job) {
        job.finish();
        job.reject(new ZelError(`zel pool: the child running this call ended (${signal || code})`,
          { code: 'ZEL_CHILD_DIED' }));
      }
      // A child that keeps dying before it is ready (it cannot load the
      // add-on, say) is not started again and again.
      slot.failures = (slot.failures || 0) + 1;
      if (!closing && slot.failures <= 3) startChild(slot);
      if (slots.every((s) => !s.child)) {
        for (const waiting of queue.splice(0)) {
          waiting.finish();
          waiting.reject(new Error('zel pool: no child is running'));
        }
      }
      dispatch();
    });
  }

  // Hands waiting calls to free children, in call order.
  function dispatch() {
    for (const slot of slots) {
      if (queue.length === 0) break;
      if (slot.child && !slot.job) {
        const job = queue.shift();
        slot.job = job;
        job.slot = slot;
        slot.child.send({ id: job.id, kind: job.kind, args: job.args, options: job.options });
      }
    }
    if (closing && queue.length === 0 && slots.every((s) => !s.job)) closing.drained();
  }

  function call(kind, names, args, options = {}) {
    try {
      if (closing) throw new Error('zel pool: the pool is closed');
      names.forEach((name, i) => checkString(args[i], name));
      if (options === null || typeof options !== 'object') {
        throw new TypeError('The "options" argument must be an object');
      }
    } catch (error) {
      return Promise.reject(error);
    }
    const { signal, ...rest } = options;
    // A signal cannot cross to the child: the parent relays the abort.
    return new Promise((resolve, reject) => {
      if (signal && signal.aborted) {
        reject(new DOMException('The zel call was aborted', 'AbortError', { cause: signal.reason }));
        return;
      }
      const job = { id: nextId++, kind, args, options: rest, resolve, reject, slot: null };
      const onAbort = () => {
        if (job.slot) {
          job.slot.child.send({ cancel: job.id });
          return;
        }
        queue.splice(queue.indexOf(job), 1);
        reject(new DOMException('The zel call was aborted', 'AbortError', { cause: signal.reason }));
        dispatch();
      };
      job.finish = () => { if (signal) signal.removeEventListener('abort', onAbort); };
      if (signal) signal.addEventListener('abort', onAbort, { once: true });
      queue.push(job);
      dispatch();
    });
  }

  for (let i = 0; i < size; i++) {
    const slot = {};
    slots.push(slot);
    startChild(slot);
  }

  return {
    size,
    run: (appDir, programPath, options) =>
      call('run', ['appDir', 'programPath'], [appDir, programPath], options),
    exec: (appDir, statement, syntaxPath, options) =>
      call('exec', ['appDir', 'statement', 'syntaxPath'], [appDir, statement, syntaxPath], options),
    compile: (sourcePath, outputSuffix, options) =>
      call('compile', ['sourcePath', 'outputSuffix'], [sourcePath, outputSuffix], options),
    // Lets the calls already made finish, then ends every child and waits
    // until each has exited.
    close() {
      if (!closing) {
        let drained;
        const done = new Promise((resolve) => { drained = resolve; });
        closing = { drained, done: done.then(() => Promise.all(slots.map(endChild))) };
        dispatch();
      }
      return closing.done;
    },
  };
}

function endChild(slot) {
  const child = slot.child;
  if (!child) return Promise.resolve();
  return new Promise((resolve) => {
    child.once('exit', () => resolve());
    child.disconnect();
  });
}

module.exports = { createPool };
