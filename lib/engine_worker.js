'use strict';
// zel's engine worker: the thread the promise calls of the whole process
// run on, so that JavaScript modules are called directly in this
// environment. It returns from serveEngine only when the process exits.
// It loads no more than serving needs: the add-on file the main thread
// loaded (no search), and the module loader only at the first JavaScript
// module, as index.js does.
const { workerData } = require('node:worker_threads');

const addon = workerData && workerData.addon ? require(workerData.addon)
  : require('./addon').load();
const scriptModules = () => require('./script_modules');

addon.setScriptHelpers((file) => scriptModules().load(file),
  (value, file, what) => scriptModules().describe(value, file, what));
addon.serveEngine();
