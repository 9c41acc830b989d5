'use strict';
// createQueue: the pool's interface over a BullMQ queue on Redis. Each call
// becomes a job that any zel worker sharing the Redis takes; the call
// resolves to the job's outcome, or rejects with the error the promise API
// would have given. A program and a compilation's source travel as their
// text, read here: the worker's machine does not share this one's disk.
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const { bullmq, connectionOptions, checkQueueName } = require('./deps');
const { Waiter } = require('./waiter');
const { pack } = require('./packing');
const { abortError, checkCall, checkProgram, checkMilliseconds } = require('../errors');
const { userText } = require('../user_text');

// The Redis channel on which clients ask the workers to end a job.
const cancelChannel = (queue) => `zel:${queue}:cancel`;

// Finished jobs stay this long (seconds), so that a repeated add with the
// same jobId finds the first one instead of running again; their workers
// strip their texts. A job whose id the client drew can never be added
// again: it stays only as long as the lookup of lost events may need it, so
// that the outcomes of a busy queue do not fill Redis for a day.
const KEEP = { completed: 24 * 3600, failed: 7 * 24 * 3600 };
const keepDrawn = (sweepEvery) => Math.max(60, Math.ceil(sweepEvery / 100));

// The compiled program's path, as the engine names it: every ".txt", then
// every ".db" of the source path replaced by the suffix.
function outputPathOf(sourcePath, suffix) {
  return sourcePath.split('.txt').join(suffix).split('.db').join(suffix);
}

// Writes the compiled text whole or not at all, as a local compilation does;
// a failed compilation removes the older output, compiled from an older source.
// The outcome names the output as a user may see it; this side knows no
// application home, so by its last name.
async function placeOutput(outcome, sourcePath, suffix) {
  const { text, ...local } = outcome;
  const output = outputPathOf(sourcePath, suffix);
  local.output = userText(output, '');
  if (outcome.failed) {
    await fs.promises.rm(output, { force: true });
  } else if (typeof text === 'string') {
    // A name of its own (outputs placed at once share a directory and a
    // millisecond), created only if it did not exist.
    const temporary = path.join(path.dirname(output), `.zel-compile-${crypto.randomBytes(12).toString('hex')}`);
    try {
      await fs.promises.writeFile(temporary, text, { encoding: 'latin1', flag: 'wx' });
      await fs.promises.rename(temporary, output);
    } catch (error) {
      await fs.promises.rm(temporary, { force: true });
      throw error;
    }
  }
  return local;
}

function checkJobId(options) {
  const jobId = options && options.jobId;
  if (jobId !== undefined && (typeof jobId !== 'string' || jobId === '' || /^\d+$/.test(jobId))) {
    throw new TypeError('options.jobId must be a string that is not only digits');
  }
  return jobId;
}

class QueueClient {
  constructor(mq, connection, name, attempts, sweepEvery) {
    this.name = name;
    this.attempts = attempts;
    this.keepDrawn = { age: keepDrawn(sweepEvery) };
    const keep = { removeOnComplete: { age: KEEP.completed }, removeOnFail: { age: KEEP.failed } };
    this.queue = new mq.Queue(name, { connection, defaultJobOptions: keep });
    this.queue.on('error', () => {});
    this.waiter = new Waiter(mq, this.queue, connection, sweepEvery);
    this.closed = false;
    this.calls = new Set();
  }

  // Runs the call `start` makes, which close() then waits for.
  track(start) {
    if (this.closed) return Promise.reject(new Error('zel queue: the queue is closed'));
    const outcome = start();
    const settled = outcome.then(() => {}, () => {});
    this.calls.add(settled);
    settled.then(() => this.calls.delete(settled));
    return outcome;
  }

  // Adds the job `data` and resolves to its outcome.
  async add(data, { signal, jobId }) {
    if (signal && signal.aborted) throw abortError(signal);
    await this.waiter.ready;
    const job = await this.queue.add(data.op, data, { jobId, attempts: this.attempts,
      ...(jobId === undefined ? { removeOnComplete: this.keepDrawn } : {}) });
    return new Promise((resolve, reject) => {
      const call = { resolve, reject, finish: () => {} };
      if (signal) this.watchAbort(job, call, signal);
      this.waiter.wait(job.id, call, jobId !== undefined).catch(() => {});
    });
  }

  // A call whose signal aborts rejects at once; its job is removed if still
  // waiting, and otherwise the worker running it is asked to end it.
  watchAbort(job, call, signal) {
    const onAbort = () => {
      this.waiter.forget(job.id, call);
      call.reject(abortError(signal));
      job.remove().catch(() => this.queue.getBackend().client
        .then((redis) => redis.publish(cancelChannel(this.name), job.id)).catch(() => {}));
    };
    signal.addEventListener('abort', onAbort, { once: true });
    call.finish = () => signal.removeEventListener('abort', onAbort);
  }

  // Takes no new call, lets the calls already made finish, then disconnects.
  async close() {
    this.closed = true;
    while (this.calls.size > 0) await Promise.all(this.calls);
    await Promise.all([this.waiter.close(), this.queue.close()]);
  }
}

// The job fields of each call, from its arguments; the files are read here.
const JOBS = {
  run: async ([app, program]) => ({
    app, text: typeof program === 'string' ? await fs.promises.readFile(program, 'utf8') : program.text,
  }),
  exec: async ([app, statement, syntax]) => ({ app, statement, syntax }),
  compile: async ([sourcePath], app) => ({
    ...(app === undefined ? {} : { app }),
    source: await fs.promises.readFile(sourcePath, 'latin1'),
  }),
};

async function call(client, op, args, options) {
  const jobId = checkJobId(options);
  // A run's program is a path or { text }; only its text travels.
  const program = op === 'run' ? checkProgram(args[1]) : null;
  const { signal, timeout, results, app } = op === 'run' ? checkCall('runText', [args[0]], options)
    : checkCall(op, args, options);
  const data = { op, ...(await JOBS[op](op === 'run' ? [args[0], program] : args, app)) };
  // What the worker's call is given: its time limit, and whether the
  // outcome lists each statement's result.
  const given = Object.entries({ timeout, results }).filter(([, value]) => value !== undefined);
  if (given.length > 0) data.options = Object.fromEntries(given);
  const outcome = await client.add(await pack(data), { signal, jobId });
  return op === 'compile' ? placeOutput(outcome, args[0], args[1]) : outcome;
}

function createQueue({ connection, queue, attempts = 3, sweepEvery = 2000 } = {}) {
  checkQueueName(queue);
  if (!Number.isInteger(attempts) || attempts < 1) throw new TypeError('attempts must be a positive integer');
  checkMilliseconds(sweepEvery, 'sweepEvery');
  if (sweepEvery < 1) throw new TypeError('sweepEvery must be at least 1 ms');
  const client = new QueueClient(bullmq(), connectionOptions(connection), queue, attempts, sweepEvery);
  return {
    run: (app, program, options) => client.track(() => call(client, 'run', [app, program], options)),
    exec: (app, statement, syntax, options) =>
      client.track(() => call(client, 'exec', [app, statement, syntax], options)),
    compile: (sourcePath, outputSuffix, options) =>
      client.track(() => call(client, 'compile', [sourcePath, outputSuffix], options)),
    close: () => client.close(),
  };
}

module.exports = { createQueue, cancelChannel, placeOutput };
