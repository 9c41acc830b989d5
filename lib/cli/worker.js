'use strict';
// zel worker: takes zel jobs from a queue on Redis until SIGTERM or SIGINT.
const { UsageError, parse, addon } = require('./common');

const usage = `usage: zel worker --redis URL --queue NAME --app NAME=DIR [--app NAME=DIR ...]
                  [--concurrency N] [--lock-duration MS] [--stalled-interval MS]
                  [--max-stalled N] [--ahead N]

Takes the jobs of queue NAME on the Redis at URL (redis://HOST:PORT) and
completes each with the outcome of the same call on this machine. A job names
its application by one of the NAMEs given with --app, never by a path.
--concurrency jobs run at once (default 1); a job's lock lasts
--lock-duration ms (default 30000) and is renewed while it runs; every
--stalled-interval ms (default 30000) the jobs whose lock ran out go back to
the queue, at most --max-stalled times each (default 1). While the queue
keeps it busy, the worker holds --ahead jobs more than it runs (default 1),
so that the engine does not wait for Redis between two jobs; 0 leaves every
waiting job to whichever worker is free. One line per failed or retried job
goes to standard error. SIGTERM or SIGINT lets the running jobs finish and
hands back those held ahead, then ends the worker; a second one hands the
running jobs back first. When a module still holds the engine a second after
a job's time limit, the worker takes no more jobs and exits with status 1, for
its supervisor to start a fresh one.`;

function whole(values, name, fallback) {
  const text = values[name];
  if (text === undefined) return fallback;
  if (!/^\d+$/.test(text)) throw new UsageError(`--${name} needs a whole number`);
  return Number(text);
}

// The --app values as a map of names to directories.
function appsOf(list) {
  const apps = {};
  for (const entry of list || []) {
    const match = /^([\w.-]+)=(.+)$/.exec(entry);
    if (!match) throw new UsageError(`--app needs NAME=DIR, not ${entry}`);
    apps[match[1]] = match[2];
  }
  if (Object.keys(apps).length === 0) throw new UsageError('worker needs at least one --app NAME=DIR');
  return apps;
}

function optionsOf(args) {
  const text = { type: 'string' };
  const { values } = parse(args, {
    redis: text, queue: text, app: { type: 'string', multiple: true }, concurrency: text,
    'lock-duration': text, 'stalled-interval': text, 'max-stalled': text, ahead: text,
  }, 0);
  if (!values.redis) throw new UsageError('worker needs --redis URL');
  if (!values.queue) throw new UsageError('worker needs --queue NAME');
  return {
    connection: values.redis, queue: values.queue, apps: appsOf(values.app),
    concurrency: whole(values, 'concurrency', 1), lockDuration: whole(values, 'lock-duration', 30000),
    stalledInterval: whole(values, 'stalled-interval', 30000),
    maxStalledCount: whole(values, 'max-stalled', 1), ahead: whole(values, 'ahead', 1),
  };
}

async function worker(args) {
  const options = optionsOf(args);
  addon();
  let handle;
  let engineHeld;
  const held = new Promise((resolve) => { engineHeld = () => resolve(1); });
  try {
    handle = require('../..').createWorker({ ...options, onEngineHeld: engineHeld });
  } catch (error) {
    if (error instanceof TypeError) throw new UsageError(error.message);
    throw error;
  }
  // The signals are caught before the worker is ready: it may take a job
  // at once, and a SIGTERM then must finish it, not end the process.
  const stopped = new Promise((resolve) => {
    let signals = 0;
    const stop = () => {
      signals += 1;
      if (signals === 1) {
        process.stderr.write('zel worker: stopping once the running jobs finish (signal again to hand them back)\n');
        handle.close().then(() => resolve(0));
      } else {
        process.stderr.write('zel worker: handing the running jobs back\n');
        handle.handBack();
      }
    };
    process.on('SIGTERM', stop);
    process.on('SIGINT', stop);
  });
  await handle.ready();
  process.stderr.write(`zel worker: taking jobs of queue ${options.queue}\n`);
  return Promise.race([stopped, held]);
}

module.exports = { usage, command: worker };
