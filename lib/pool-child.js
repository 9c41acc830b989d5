'use strict';
// One child of a pool (lib/pool.js): runs the calls its parent sends with
// this process's own engine, one at a time, and sends back each outcome.
const zel = require('..');

const controllers = new Map();
// The engine loaded: the parent stops counting failed starts.
process.send({ ready: true });

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
  const controller = new AbortController();
  controllers.set(id, controller);
  try {
    const outcome = await zel[kind](...args, { ...options, signal: controller.signal });
    process.send({ id, outcome });
  } catch (error) {
    process.send({ id, error: errorFields(error) });
  } finally {
    controllers.delete(id);
  }
});
