'use strict';
// Delivers each job's end to the calls waiting for it, from two sources:
// the queue's event stream, read from the entry that was last when the
// client started (never from "now", which drops the events written before
// the first blocking read), and a lookup of the jobs still waiting, made
// after an add that may have found its job ended (a repeated jobId) and
// every `sweepEvery` ms, for an event the stream listener did not
// deliver (its connection reset while BullMQ abandoned a read, the stream
// trimmed under a slow reader). Whichever comes first settles the calls.
const { errorOf } = require('./jobs');

// The id of the last entry of stream `key`, or "0-0" when it is empty.
async function lastEntryId(redis, key) {
  const [last] = await redis.xrevrange(key, '+', '-', 'COUNT', 1);
  return last ? last[0] : '0-0';
}

class Waiter {
  // `queue` is the client's BullMQ Queue; `mq` BullMQ's exports.
  constructor(mq, queue, connection, sweepEvery) {
    this.queue = queue;
    this.pending = new Map();
    this.sweepEvery = sweepEvery;
    this.timer = null;
    this.ready = this.listen(mq, connection);
    this.ready.catch(() => {});
  }

  // Starts the stream listener at the stream's current last entry; resolves
  // once it is connected.
  async listen(mq, connection) {
    const redis = await this.queue.getBackend().client;
    const lastEventId = await lastEntryId(redis, this.queue.keys.events);
    this.events = new mq.QueueEvents(this.queue.name, { connection, lastEventId });
    this.events.on('completed', ({ jobId, returnvalue }) => this.settle(jobId, null, returnvalue));
    this.events.on('failed', ({ jobId, failedReason }) => this.settle(jobId, failedReason));
    this.events.on('error', () => {});
    await this.events.waitUntilReady();
  }

  // Registers `call` ({ resolve, reject, finish }) as waiting for job `jobId`.
  // A job whose id the caller chose may have ended before its add (a repeated
  // add): `lookNow` looks it up at once. A fresh id's events all come later.
  async wait(jobId, call, lookNow) {
    const list = this.pending.get(jobId) || [];
    list.push(call);
    this.pending.set(jobId, list);
    if (this.timer === null) this.timer = setInterval(() => this.sweep(), this.sweepEvery);
    if (lookNow) await this.lookUp([jobId]);
  }

  // Drops `call` from the calls waiting for `jobId` (its caller gave up).
  forget(jobId, call) {
    const list = this.pending.get(jobId) || [];
    if (list.includes(call)) list.splice(list.indexOf(call), 1);
    if (list.length === 0) this.drop(jobId);
  }

  // Stops waiting for job `jobId`; the lookups stop when nothing waits.
  drop(jobId) {
    this.pending.delete(jobId);
    if (this.pending.size > 0) return;
    clearInterval(this.timer);
    this.timer = null;
  }

  // Settles every call waiting for job `jobId`, from its reason or value.
  settle(jobId, failedReason, value) {
    const waiting = this.pending.get(jobId);
    if (!waiting) return;
    this.drop(jobId);
    for (const call of waiting) {
      call.finish();
      if (failedReason !== null) call.reject(errorOf(failedReason));
      else call.resolve(typeof value === 'string' ? JSON.parse(value) : value);
    }
  }

  // Reads the end of each job of `ids` in one round trip and settles those
  // that ended: a return value means completed (a failed attempt before it
  // leaves its reason behind), a reason alone means failed.
  async lookUp(ids) {
    const redis = await this.queue.getBackend().client;
    const batch = redis.pipeline();
    for (const id of ids) batch.hmget(this.queue.toKey(id), 'finishedOn', 'returnvalue', 'failedReason');
    const replies = await batch.exec();
    replies.forEach(([error, fields], i) => {
      if (error || !fields || !fields[0]) return;
      if (fields[1] !== null) this.settle(ids[i], null, fields[1]);
      else if (fields[2] !== null) this.settle(ids[i], fields[2]);
    });
  }

  // Looks up every job still waited for; a failed lookup waits for the next.
  sweep() {
    if (this.pending.size > 0) this.lookUp([...this.pending.keys()]).catch(() => {});
  }

  // Ends the stream listener (the lookups ended with the last wait).
  async close() {
    await this.ready.catch(() => {});
    if (this.events) await this.events.close();
  }
}

module.exports = { Waiter };
