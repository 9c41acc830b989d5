'use strict';
// The add-on's exports: Compiler, Executer and Commandes.
module.exports = require('./lib/addon').load();
