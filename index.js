'use strict';
// The add-on's exports: Compiler, Executer and Commandes.
module.exports = require('./build/Release/zel.node');
