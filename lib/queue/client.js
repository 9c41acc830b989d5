'use strict';
// createQueue: the pool's interface over a BullMQ queue on Redis. Each call
// becomes a job that any zel worker sharing the Redis takes; the call
// resolves to the job's outcome, or rejects with the error the promise API
// would have given. A program and a compilation's source travel as their
// text, read here: the worker's machine does not share this one's disk.
const fs = require('node:fs');
const path = require('node:path');
const { bullmq, connectionOptions, checkQueueName } = require('./deps');
const { errorOf } = require('./jobs');
const { abortError, checkCall, checkProgram } = require('../errors');
const { userText } = require('../user_text');

// The Redis channel on which clients ask the workers to end a job.
const cancelChannel = (queue) => `zel:${queue}:cancel`;

// Finished jobs stay this long (seconds), so that a repeated add with the
// same jobId finds the first one instead of running again.
const KEEP = { completed: 24 * 3600, failed: 7 * 24 * 3600 };

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
    const temporary = path.join(path.dirname(output), `.zel-compile-${process.pid}-${Date.now()}`);
    await fs.promises.writeFile(temporary, text, 'latin1');
    await fs.promises.rename(temporary, output);
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
  constructor(mq, connection, name, attempts) {
    this.name = name;
    this.attempts = attempts;
    const keep = { removeOnComplete: { age: KEEP.completed }, removeOnFail: { age: KEEP.failed } };
    this.queue = new mq.Queue(name, { connection, defaultJobOptions: keep });
    this.events = new mq.QueueEvents(name, { connection });
    this.Job = mq.Job;
    this.pending = new Map();
    this.closed = false;
    this.events.on('completed', ({ jobId, returnvalue }) => this.settle(jobId, null, returnvalue));
    this.events.on('failed', ({ jobId, failedReason }) => this.settle(jobId, failedReason));
    this.events.on('error', () => {});
    this.queue.on('error', () => {});
    this.ready = this.events.waitUntilReady();
  }

  // Settles every call waiting for job `jobId`, from its reason or value.
  settle(jobId, failedReason, value) {
    const waiting = this.pending.get(jobId);
    if (!waiting) return;
    this.pending.delete(jobId);
    for (const call of waiting) {
      call.finish();
      if (failedReason !== null) call.reject(errorOf(failedReason));
      else call.resolve(typeof value === 'string' ? JSON.parse(value) : value);
    }
  }

  // Waits for the job's end: from its events, or at once when it had
  // already ended (a repeated jobId, or an end before the listening began).
  async wait(job, call) {
    const list = this.pending.get(job.id) || [];
    list.push(call);
    this.pending.set(job.id, list);
    const known = await this.Job.fromId(this.queue, job.id);
    if (!known) return;
    if (known.finishedOn && known.failedReason) this.settle(job.id, known.failedReason);
    else if (known.finishedOn) this.settle(job.id, null, known.returnvalue);
  }

  // Adds the job `data` and resolves to its outcome.
  async add(data, { signal, jobId }) {
    if (this.closed) throw new Error('zel queue: the queue is closed');
    if (signal && signal.aborted) throw abortError(signal);
    await this.ready;
    const job = await this.queue.add(data.op, data, { jobId, attempts: this.attempts });
    return new Promise((resolve, reject) => {
      const call = { resolve, reject, finish: () => {} };
      if (signal) this.watchAbort(job, call, signal);
      this.wait(job, call).catch(reject);
    });
  }

  // A call whose signal aborts rejects at once; its job is removed if still
  // waiting, and otherwise the worker running it is asked to end it.
  watchAbort(job, call, signal) {
    const onAbort = () => {
      const list = this.pending.get(job.id) || [];
      list.splice(list.indexOf(call), 1);
      call.reject(abortError(signal));
      job.remove().catch(() => this.queue.client
        .then((redis) => redis.publish(cancelChannel(this.name), job.id)).catch(() => {}));
    };
    signal.addEventListener('abort', onAbort, { once: true });
    call.finish = () => signal.removeEventListener('abort', onAbort);
  }

  async close() {
    this.closed = true;
    await Promise.all([this.events.close(), this.queue.close()]);
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
  const { signal, timeout, app } = op === 'run' ? checkCall('runText', [args[0]], options)
    : checkCall(op, args, options);
  const data = { op, ...(await JOBS[op](op === 'run' ? [args[0], program] : args, app)) };
  if (timeout !== undefined) data.options = { timeout };
  const outcome = await client.add(data, { signal, jobId });
  return op === 'compile' ? placeOutput(outcome, args[0], args[1]) : outcome;
}

function createQueue({ connection, queue, attempts = 3 } = {}) {
  checkQueueName(queue);
  if (!Number.isInteger(attempts) || attempts < 1) throw new TypeError('attempts must be a positive integer');
  const client = new QueueClient(bullmq(), connectionOptions(connection), queue, attempts);
  return {
    run: (app, program, options) => call(client, 'run', [app, program], options),
    exec: (app, statement, syntax, options) => call(client, 'exec', [app, statement, syntax], options),
    compile: (sourcePath, outputSuffix, options) =>
      call(client, 'compile', [sourcePath, outputSuffix], options),
    close: () => client.close(),
  };
}

module.exports = { createQueue, cancelChannel };
