'use strict';
// createWorker: takes zel jobs from a BullMQ queue on Redis and completes
// each with the outcome the promise API gives for the same call. Only the
// promise API runs programs here, so the event loop stays free to renew the
// locks of the jobs in progress. A program that fails completes its job
// (outcome.failed); a time limit, a worker that stops or dies, is a failed
// attempt that BullMQ retries up to the job's attempts; a malformed job, an
// unknown application, a module that throws and a job its client cancelled
// fail at once, and the worker goes on.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { bullmq, connectionOptions, checkQueueName } = require('./deps');
const { checkJob, reasonOf } = require('./jobs');
const { unpack } = require('./packing');
const { forgetTextsOnFinish } = require('./retention');
const { cancelChannel } = require('./client');
const { checkMilliseconds } = require('../errors');

// The abort reason of a job whose client gave up on it.
const CANCELLED = 'zel: cancelled by its client';
// The abort reason of the jobs a stopping worker hands back.
const HANDED_BACK = 'zel: handed back by a stopping worker';

// Compiles a job's source text in a directory of its own and adds the
// compiled program's text to the outcome; the output path is the client's
// business, so it is left out. Source and program travel as byte strings.
async function compileText(zel, appDir, source, options) {
  const dir = await fs.promises.mkdtemp(path.join(os.tmpdir(), 'zel-job-'));
  try {
    const sourcePath = path.join(dir, 'program.txt');
    await fs.promises.writeFile(sourcePath, source, 'latin1');
    const compileOptions = appDir === null ? options : { ...options, app: appDir };
    // The output is named after the source (program.zel); the outcome shows
    // its path as a user may see it, not where it is.
    const { output, ...outcome } = await zel.compile(sourcePath, '.zel', compileOptions);
    if (!outcome.failed) outcome.text = await fs.promises.readFile(path.join(dir, 'program.zel'), 'latin1');
    return outcome;
  } finally {
    await fs.promises.rm(dir, { recursive: true, force: true });
  }
}

// Runs a checked job through the promise API.
function perform(zel, { op, appDir, fields, options }, signal) {
  const callOptions = { ...options, signal };
  if (op === 'run') return zel.run(appDir, { text: fields.text }, callOptions);
  if (op === 'exec') return zel.exec(appDir, fields.statement, fields.syntax, callOptions);
  return compileText(zel, appDir, fields.source, callOptions);
}

// A failure worth another attempt: the time limit, or the worker stopping.
function retryable(error, signal) {
  if (error.name === 'TimeoutError') return true;
  return error.name === 'AbortError' && signal.reason === HANDED_BACK;
}

// The engine's turns. A worker takes `ahead` jobs more than it runs at
// once, so that when a job ends the next one is already here instead of the
// engine waiting a round trip to Redis for it; a job that waits for its
// turn has not started: its call, and so its time limit, begins with its
// turn.
class Turns {
  constructor(size) {
    this.free = size;
    this.waiting = [];
    this.closed = false;
  }

  // Resolves to true once the job has its turn, or to false if the worker
  // stops taking jobs or `signal` aborts first.
  take(signal) {
    if (this.closed || signal.aborted) return Promise.resolve(false);
    if (this.free > 0) {
      this.free -= 1;
      return Promise.resolve(true);
    }
    return new Promise((resolve) => {
      const onAbort = () => this.leave(turn, false);
      const turn = (held) => {
        signal.removeEventListener('abort', onAbort);
        resolve(held);
      };
      signal.addEventListener('abort', onAbort, { once: true });
      this.waiting.push(turn);
    });
  }

  leave(turn, held) {
    const at = this.waiting.indexOf(turn);
    if (at >= 0) this.waiting.splice(at, 1)[0](held);
  }

  // Ends a turn: the longest waiting job takes it.
  give() {
    if (this.waiting.length > 0) this.waiting.shift()(true);
    else this.free += 1;
  }

  // The jobs still waiting for a turn get none.
  close() {
    this.closed = true;
    for (const turn of this.waiting.splice(0)) turn(false);
  }
}

// Jobs are held ahead only while the queue keeps the worker busy: a job
// that came without a wait (the queue was not found empty since the last
// one) lets the worker take `ahead` more, an empty queue takes that back.
// A lone job so costs no extra round trip, and none is held from an idle
// worker while the queue is quiet.
function holdAheadWhileBusy(worker, concurrency, ahead) {
  let drained = false;
  worker.on('drained', () => {
    drained = true;
    worker.concurrency = concurrency;
  });
  worker.on('active', () => {
    if (!drained) worker.concurrency = concurrency + ahead;
    drained = false;
  });
}

// After a job's time limit the engine ends its call before the next
// statement, but cannot cut a module call short. Resolves to false when the
// engine has not taken a new call within `grace` ms: a module holds it, and
// every later job would only wait out its own time limit here.
async function engineFreed(zel, appDir, grace) {
  try {
    await zel.run(appDir, { text: '' }, { timeout: grace });
    return true;
  } catch (error) {
    return error.name !== 'TimeoutError';
  }
}

// The engine after a job's time limit: freed() probes it with an empty
// program in the first application named; held(job), when a module still
// holds it, makes the worker take no more jobs (`close`) and tell its owner
// once closed.
function engineWatch(zel, apps, o, turns, close) {
  return {
    freed: () => engineFreed(zel, Object.values(apps)[0], o.engineGrace),
    held: (job) => {
      if (turns.closed) return;
      o.log(`zel worker: a module still holds the engine ${o.engineGrace} ms after job ${job.id}'s time limit; taking no more jobs`);
      close().then(() => o.onEngineHeld());
    },
  };
}

function processorFor(zel, apps, turns, engine, { UnrecoverableError, WaitingError }) {
  return async (job, token, signal) => {
    let call;
    try {
      call = checkJob(await unpack(job.data), apps);
    } catch (error) {
      throw new UnrecoverableError(reasonOf(error));
    }
    const held = await turns.take(signal);
    // A job that never started goes back to the front of the queue with no
    // attempt spent, for this worker stops; one its client cancelled
    // fails below as an aborted call does.
    if (!held && signal.reason !== CANCELLED) {
      await job.moveToWait(token);
      throw new WaitingError();
    }
    try {
      return await perform(zel, call, signal);
    } catch (error) {
      if (error.name === 'TimeoutError' && !(await engine.freed())) engine.held(job);
      if (retryable(error, signal)) throw new Error(reasonOf(error));
      throw new UnrecoverableError(reasonOf(error));
    } finally {
      if (held) turns.give();
    }
  };
}

// One log line for a job that failed, saying whether it will run again.
function failedLine(job, error) {
  const { op, app } = job.data || {};
  const attempts = job.opts.attempts || 1;
  const again = error.name !== 'UnrecoverableError' && job.attemptsMade < attempts;
  let what = error.message;
  try {
    const fields = JSON.parse(what);
    what = `${fields.name}: ${fields.message}`;
  } catch { /* BullMQ's own reason, a plain text */ }
  const verdict = again ? `failed, will retry (attempt ${job.attemptsMade} of ${attempts})` : 'failed';
  return `zel worker: job ${job.id} (${op} ${app}) ${verdict}: ${what}`;
}

// The application map checked: names to absolute directories.
function checkApps(apps) {
  if (apps === null || typeof apps !== 'object' || Object.keys(apps).length === 0) {
    throw new TypeError('apps must map at least one application name to its directory');
  }
  const checked = Object.create(null);
  for (const [name, dir] of Object.entries(apps)) {
    if (typeof dir !== 'string' || !fs.existsSync(dir) || !fs.statSync(dir).isDirectory()) {
      throw new TypeError(`apps.${name} must be an application directory`);
    }
    checked[name] = path.resolve(dir);
  }
  return checked;
}

function checkWorkerOptions(o) {
  checkQueueName(o.queue);
  if (!Number.isInteger(o.concurrency) || o.concurrency < 1) {
    throw new TypeError('concurrency must be a positive integer');
  }
  for (const name of ['maxStalledCount', 'ahead']) {
    if (!Number.isInteger(o[name]) || o[name] < 0) throw new TypeError(`${name} must be a whole number`);
  }
  checkMilliseconds(o.lockDuration, 'lockDuration');
  checkMilliseconds(o.stalledInterval, 'stalledInterval');
  checkMilliseconds(o.engineGrace, 'engineGrace');
  if (typeof o.onEngineHeld !== 'function') throw new TypeError('onEngineHeld must be a function');
}

// Listens for the cancellations clients publish and aborts those jobs.
function listenForCancels(IORedis, connection, queue, worker) {
  const listener = new IORedis({ ...connection, maxRetriesPerRequest: null, lazyConnect: false });
  listener.on('error', () => {});
  listener.subscribe(cancelChannel(queue)).catch(() => {});
  listener.on('message', (channel, jobId) => worker.cancelJob(jobId, CANCELLED));
  return listener;
}

function createWorker(options = {}) {
  const o = { concurrency: 1, ahead: 1, lockDuration: 30000, stalledInterval: 30000, maxStalledCount: 1,
    engineGrace: 1000, onEngineHeld: () => {}, log: (line) => process.stderr.write(`${line}\n`), ...options };
  checkWorkerOptions(o);
  const apps = checkApps(o.apps);
  const connection = connectionOptions(o.connection);
  const mq = bullmq();
  const zel = require('../..');
  const turns = new Turns(o.concurrency);
  let closing = null;
  // Takes no new job, lets the running ones finish, hands back those held
  // ahead, then disconnects (after the finished jobs' strips: a quit, not a
  // reset, ends the connection they go on).
  const close = () => {
    turns.close();
    forgetter.flush();
    if (!closing) closing = worker.close().then(() => listener.quit().catch(() => {}));
    return closing.then(() => undefined);
  };
  const engine = engineWatch(zel, apps, o, turns, close);
  const worker = new mq.Worker(o.queue, processorFor(zel, apps, turns, engine, mq), {
    // The job's processedBy names the worker running it: host and process.
    name: `${os.hostname()}:${process.pid}`, connection, concurrency: o.concurrency, lockDuration: o.lockDuration,
    stalledInterval: o.stalledInterval, maxStalledCount: o.maxStalledCount,
  });
  holdAheadWhileBusy(worker, o.concurrency, o.ahead);
  const forgetter = forgetTextsOnFinish(worker);
  worker.on('failed', (job, error) => { if (job) o.log(failedLine(job, error)); });
  worker.on('stalled', (jobId) => o.log(`zel worker: job ${jobId} stalled (its worker stopped renewing its lock); it goes back to the queue`));
  worker.on('error', (error) => o.log(`zel worker: ${error.message}`));
  const listener = listenForCancels(require('ioredis'), connection, o.queue, worker);
  return {
    ready: () => worker.waitUntilReady().then(() => undefined),
    close,
    // Ends the running jobs between two statements; each goes back to the
    // queue as a failed attempt, to be run again from its start.
    handBack: () => {
      turns.close();
      worker.cancelAllJobs(HANDED_BACK);
    },
  };
}

module.exports = { createWorker };
