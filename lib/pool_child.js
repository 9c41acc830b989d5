'use strict';
// One child of a pool (lib/pool.js): runs the calls its parent sends with
// this process's own engine, one at a time, and sends back each outcome.
const zel = require('..');

const controllers = new Map();

// Sends `message` to the parent. A parent that closed the pool meanwhile has
// closed the channel: the message is dropped, and this child ends quietly
// when its work is done.
function reply(message) {
  if (process.connected) process.send(message, () => {});
}

// The engine loaded: the parent stops counting failed starts.
reply({ ready: true });

function errorFields(error) {
  return {
    name: error.name, message: error.message, code: error.code,
    modulePath: error.modulePath, line: error.line,
  };
}

process.on('message', async (request) => {
  if (request.cancel !== undefined) {
    const controller = controllers.get(request.cancel);
    if (controller) controller.abort();
    return;
  }
  const { id, kind, args, options } = request;
  // A run's program sent as bytes (lib/pool.js) is given to the run as bytes.
  if (kind === 'run' && args[1] && args[1].bytes !== undefined) {
    args[1] = { text: Buffer.from(args[1].bytes, 'base64') };
  }
  const controller = new AbortController();
  controllers.set(id, controller);
  try {
    const outcome = await zel[kind](...args, { ...options, signal: controller.signal });
    reply({ id, outcome });
  } catch (error) {
    reply({ id, error: errorFields(error) });
  } finally {
    controllers.delete(id);
  }
});
