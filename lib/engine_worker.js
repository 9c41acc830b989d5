'use strict';
// zel's engine worker: the thread the promise calls of the whole process
// run on, so that JavaScript modules are called directly in this
// environment. It returns from serveEngine only when the process exits.
const addon = require('./addon').load();
const scriptModules = require('./script_modules');

addon.setScriptHelpers(scriptModules.load, scriptModules.describe);
addon.serveEngine();
