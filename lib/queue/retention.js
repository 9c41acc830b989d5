'use strict';
// A finished job keeps its outcome, and its id so that a repeated add with
// that id finds it, for as long as the client keeps finished jobs; its texts
// (a program, a source) are no use any more and would fill Redis. The
// worker that finished it replaces its data with its op and app, only once
// Redis holds it as finished: a failed attempt that will run again keeps its
// texts, and a late write never strips a job that runs again.

// KEYS: the completed set, the failed set, then each job's hash; ARGV: each
// job's id and what its data keeps, in the same order.
const FORGET_TEXTS = `for i = 3, #KEYS do
  local id = ARGV[2 * i - 5]
  if redis.call('ZSCORE', KEYS[1], id) or redis.call('ZSCORE', KEYS[2], id) then
    redis.call('HSET', KEYS[i], 'data', ARGV[2 * i - 4])
  end
end`;

// What a finished job's data keeps: its op and app, when short strings (a
// malformed job's may be anything).
function leftOf(data) {
  const left = {};
  for (const name of ['op', 'app']) {
    const value = data && data[name];
    if (typeof value === 'string' && value.length <= 200) left[name] = value;
  }
  return JSON.stringify(left);
}

// Strips the jobs `worker` finishes, several in one command: a command of
// its own per job cost the worker about a tenth of its time in socket
// writes, and Redis a script run beside the next job's add. The jobs
// finished so far go when `most` wait, `every` ms after the first, and when
// the worker closes.
function forgetTextsOnFinish(worker, { most = 64, every = 1000 } = {}) {
  const { completed, failed } = worker.keys;
  let waiting = [];
  let timer = null;
  const flush = () => {
    clearTimeout(timer);
    timer = null;
    if (waiting.length === 0) return Promise.resolve();
    const jobs = waiting;
    waiting = [];
    return Promise.resolve(worker.getBackend().client)
      .then((redis) => redis.eval(FORGET_TEXTS, 2 + jobs.length, completed, failed,
        ...jobs.map((job) => worker.toKey(job.id)), ...jobs.flatMap((job) => [job.id, leftOf(job.data)])))
      .catch(() => {});
  };
  const forget = (job) => {
    waiting.push(job);
    if (waiting.length >= most || worker.closing) flush();
    else if (timer === null) timer = setTimeout(flush, every).unref();
  };
  worker.on('completed', forget);
  worker.on('failed', (job) => { if (job && job.finishedOn) forget(job); });
  return { flush };
}

module.exports = { forgetTextsOnFinish };
