'use strict';
// createPool: the promise API over child processes, each with an engine of
// its own, so that programs run on several cores at once. A child runs one
// call at a time; calls wait in the pool's queue for the first free child.
// Each call is isolated, as in the promise API; a module's own memory lives
// in its child and is shared only by the calls that child runs. A child
// that dies is replaced; only the call it was running fails. A call's
// timeout counts from when it was made: at its deadline the call rejects,
// waiting or not. Timeouts and aborts end a run between statements in the
// child; a child still busy with the call killAfter ms later is killed.
const { fork } = require('node:child_process');
const os = require('node:os');
const path = require('node:path');
const { ZelError } = require('./zel_error');
const {
  MAX_DELAY, abortError, timeoutError, errorFromFields, checkMilliseconds, checkProgram, checkCall,
} = require('./errors');

const childScript = path.join(__dirname, 'pool_child.js');

// The error of a call whose child ended while running it: the pool's own
// kill after a timeout or an abort, or anything else.
function endedError(job, signal, code) {
  if (job.ended === 'timeout') return timeoutError(job.timeout);
  if (job.ended === 'abort') return abortError(job.signal);
  return new ZelError(`zel pool: the child running this call ended (${signal || code})`,
    { code: 'ZEL_CHILD_DIED' });
}

// A child that can take a call or a message: started, not killed, and with
// its channel open (a child that died is disconnected before its exit event).
function usable(child) {
  return child !== null && child.connected && !child.killed;
}

// A run's program as it can cross the channel, which carries JSON: a
// program given as bytes travels as { bytes } in base64, copied now, so
// that a caller's later change to its array cannot reach the call.
function sendable(program) {
  if (typeof program === 'string' || typeof program.text === 'string') return program;
  const { buffer, byteOffset, byteLength } = program.text;
  return { bytes: Buffer.from(buffer, byteOffset, byteLength).toString('base64') };
}

function defaultSize() {
  return os.availableParallelism ? os.availableParallelism() : os.cpus().length;
}

// The pool's children and its queue of calls. Each child slot is
// { child, job, failures }; each job is a call made through the pool.
class Pool {
  constructor(size, killAfter) {
    this.size = size;
    this.killAfter = killAfter;
    this.queue = [];
    this.slots = [];
    this.nextId = 0;
    this.closing = null;
    for (let i = 0; i < size; i++) {
      const slot = { child: null, job: null, failures: 0 };
      this.slots.push(slot);
      this.startChild(slot);
    }
  }

  startChild(slot) {
    const child = fork(childScript, [], { stdio: ['ignore', 'inherit', 'inherit', 'ipc'], execArgv: [] });
    slot.child = child;
    slot.job = null;
    child.on('message', (reply) => this.onMessage(slot, child, reply));
    child.on('exit', (code, signal) => this.onExit(slot, child, code, signal));
    // A message that cannot be written (EPIPE) means the child is dying: its
    // exit rejects its call. Unheard, the error would end the host.
    child.on('error', () => {});
  }

  onMessage(slot, child, reply) {
    // A killed child's late reply is ignored: its call already ran too long.
    if (slot.child !== child || child.killed) return;
    if (reply.ready) {
      slot.failures = 0;
      return;
    }
    const job = slot.job;
    if (!job || reply.id !== job.id) return;
    slot.job = null;
    job.finish();
    if (reply.error) job.reject(errorFromFields(reply.error));
    else job.resolve(reply.outcome);
    this.dispatch();
  }

  onExit(slot, child, code, signal) {
    if (slot.child !== child) return;
    slot.child = null;
    const job = slot.job;
    slot.job = null;
    if (job) {
      job.finish();
      job.reject(endedError(job, signal, code));
    }
    // A child that keeps dying before it is ready (it cannot load the
    // add-on, say) is not started again and again.
    slot.failures += 1;
    if (!this.closing && slot.failures <= 3) this.startChild(slot);
    this.dispatch();
  }

  // Kills the child running `job`, which went `reason` ('timeout' or
  // 'abort') killAfter ms ago; its exit rejects the call and starts a new one.
  kill(job, reason) {
    const slot = job.slot;
    if (slot.job !== job || !usable(slot.child)) return;
    job.ended = reason;
    slot.child.kill('SIGKILL');
  }

  killLater(job, reason, ms) {
    job.timers.push(setTimeout(() => this.kill(job, reason), Math.min(ms, MAX_DELAY)));
  }

  // Hands `job` to the free child of `slot`. A call the channel cannot
  // carry rejects alone and leaves the child free (the checks in call() keep
  // every field serialisable; this keeps one oversight from stalling a child).
  send(slot, job) {
    // Its time ran out while it waited (a limit of zero always has).
    if (job.deadline !== undefined && Date.now() >= job.deadline) {
      this.expire(job);
      return;
    }
    try {
      slot.child.send({ id: job.id, kind: job.kind, args: job.args, options: job.options });
    } catch (error) {
      job.finish();
      job.reject(error);
      return;
    }
    slot.job = job;
    job.slot = slot;
  }

  // The deadline of a call with a timeout: waiting, it never runs; running,
  // its child is asked to end it and killed if still busy killAfter later.
  // Either way it rejects now; what the child answers later is dropped.
  // An abort asked for before the deadline stays the reason.
  expire(job) {
    if (job.slot) {
      if (usable(job.slot.child)) job.slot.child.send({ cancel: job.id });
      if (!job.aborted) this.killLater(job, 'timeout', this.killAfter);
      // Settled now: the signal keeps no listener while the child ends it.
      job.unlisten();
    } else {
      const waiting = this.queue.indexOf(job);
      if (waiting >= 0) this.queue.splice(waiting, 1);
      job.finish();
      this.dispatch();
    }
    job.reject(job.aborted ? abortError(job.signal) : timeoutError(job.timeout));
  }

  // Hands waiting calls to free children, in call order.
  dispatch() {
    if (this.slots.every((s) => !s.child)) {
      for (const waiting of this.queue.splice(0)) {
        waiting.finish();
        waiting.reject(new Error('zel pool: no child is running'));
      }
    }
    for (const slot of this.slots) {
      while (this.queue.length > 0 && usable(slot.child) && !slot.job) this.send(slot, this.queue.shift());
    }
    if (this.closing && this.queue.length === 0 && this.slots.every((s) => !s.job)) {
      this.closing.drained();
    }
  }

  // The call is checked here as the promise API checks it; the child gets
  // only the options it reads, never the signal nor the timeout: the
  // parent relays aborts and deadlines.
  call(kind, args, options) {
    let signal;
    let timeout;
    let sent;
    try {
      if (this.closing) throw new Error('zel pool: the pool is closed');
      // The child gets a run's program as the promise API takes it.
      if (kind === 'run') args = [args[0], sendable(checkProgram(args[1], { bytes: true }))];
      ({ signal, timeout, ...sent } = checkCall(kind, args, options));
    } catch (error) {
      return Promise.reject(error);
    }
    return new Promise((resolve, reject) => {
      if (signal && signal.aborted) {
        reject(abortError(signal));
        return;
      }
      const job = { id: this.nextId++, kind, args, options: sent, timeout, signal,
        resolve, reject, slot: null, timers: [] };
      this.watchAbort(job);
      if (timeout !== undefined) {
        job.deadline = Date.now() + timeout;
        job.timers.push(setTimeout(() => this.expire(job), timeout));
      }
      this.queue.push(job);
      this.dispatch();
    });
  }

  // Relays the abort of the job's signal: a waiting call never runs; a
  // running one is asked to end, and its child is killed killAfter ms later.
  watchAbort(job) {
    const { signal } = job;
    const onAbort = () => {
      if (job.slot) {
        job.aborted = true;
        if (usable(job.slot.child)) job.slot.child.send({ cancel: job.id });
        this.killLater(job, 'abort', this.killAfter);
        return;
      }
      this.queue.splice(this.queue.indexOf(job), 1);
      job.finish();
      job.reject(abortError(signal));
      this.dispatch();
    };
    job.unlisten = () => {
      if (signal) signal.removeEventListener('abort', onAbort);
    };
    job.finish = () => {
      job.unlisten();
      job.timers.forEach(clearTimeout);
    };
    if (signal) signal.addEventListener('abort', onAbort, { once: true });
  }

  // Lets the calls already made finish, then ends every child and waits
  // until each has exited.
  close() {
    if (!this.closing) {
      let drained;
      const done = new Promise((resolve) => { drained = resolve; });
      this.closing = { drained, done: done.then(() => Promise.all(this.slots.map(endChild))) };
      this.dispatch();
    }
    return this.closing.done;
  }
}

function createPool(options = {}) {
  if (options === null || typeof options !== 'object') {
    throw new TypeError('The "options" argument of createPool must be an object');
  }
  const { size = defaultSize(), killAfter = 2000 } = options;
  if (!Number.isInteger(size) || size < 1) throw new TypeError('size must be a positive integer');
  checkMilliseconds(killAfter, 'killAfter');
  const pool = new Pool(size, killAfter);
  return {
    size,
    run: (appDir, program, options) => pool.call('run', [appDir, program], options),
    exec: (appDir, statement, syntaxPath, options) =>
      pool.call('exec', [appDir, statement, syntaxPath], options),
    compile: (sourcePath, outputSuffix, options) =>
      pool.call('compile', [sourcePath, outputSuffix], options),
    close: () => pool.close(),
  };
}

// Closes a child's channel, which ends it, and waits for its exit.
function endChild(slot) {
  const child = slot.child;
  if (!child) return Promise.resolve();
  return new Promise((resolve) => {
    child.once('exit', () => resolve());
    if (child.connected) child.disconnect();
  });
}

module.exports = { createPool };
