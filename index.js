'use strict';
// The add-on's exports: the classic Compiler, Executer and Commandes, the
// promise API for servers, and pools of child processes. Only the add-on
// loads with the package: the promise API and the pool load at their first
// call, so that a program using the classic exports starts sooner.
const addon = require('./lib/addon').load();
const { ZelError } = require('./lib/zel_error');

// JavaScript modules the engine calls on this thread run in this
// environment; their loader is read at the first one.
const scriptModules = () => require('./lib/script_modules');
addon.setScriptHelpers((file) => scriptModules().load(file),
  (value, file, what) => scriptModules().describe(value, file, what));

let promises = null;
function promiseApi() {
  if (promises === null) promises = require('./lib/promise').promiseApi(addon);
  return promises;
}

module.exports = {
  ...addon,
  run: (appDir, program, options) => promiseApi().run(appDir, program, options),
  exec: (appDir, statement, syntaxPath, options) =>
    promiseApi().exec(appDir, statement, syntaxPath, options),
  compile: (sourcePath, outputSuffix, options) =>
    promiseApi().compile(sourcePath, outputSuffix, options),
  ZelError,
  createPool: (options) => require('./lib/pool').createPool(options),
  createQueue: (options) => require('./lib/queue/client').createQueue(options),
  createWorker: (options) => require('./lib/queue/worker').createWorker(options),
};
