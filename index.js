'use strict';
// The add-on's exports: Compiler, Executer and Commandes.
module.exports = require('./build/Release/zel.node');
// The promise API for servers, and pools of child processes.
const { promiseApi, ZelError } = require('./lib/promise');
Object.assign(module.exports, promiseApi(module.exports), { ZelError });
module.exports.createPool = (options) => require('./lib/pool').createPool(options);
