'use strict';
// The add-on's exports: the classic Compiler, Executer and Commandes, the
// promise API for servers, and pools of child processes.
const addon = require('./lib/addon').load();
const { promiseApi, ZelError } = require('./lib/promise');
module.exports = {
  ...addon,
  ...promiseApi(addon),
  ZelError,
  createPool: (options) => require('./lib/pool').createPool(options),
};
