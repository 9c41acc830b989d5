'use strict';
// The add-on's exports: Compiler, Executer and Commandes.
module.exports = require('./build/Release/zel.node');
// The promise API for servers, and pools of child processes.
const { promiseApi, ZelError } = require('./lib/promise');
module.exports = {
  ...module.exports,
  ...promiseApi(module.exports),
  ZelError,
  createPool: (options) => require('./lib/pool').createPool(options),
};
