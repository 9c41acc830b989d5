'use strict';
// A time limit for a whole test file: the file's process ends, failed, once
// it has run `seconds`. A regression that leaves something open (a pool
// never closed, a child never reaped) then fails its file instead of
// holding "node --test" until CI gives up. The timer never keeps the
// process alive by itself.
const path = require('node:path');

function timeLimit(seconds) {
  const file = path.basename(require.main ? require.main.filename : process.argv[1] || 'test file');
  setTimeout(() => {
    process.stderr.write(`${file}: still running after ${seconds} s (a pool or child left open?); ended\n`);
    process.exit(1);
  }, seconds * 1000).unref();
}

module.exports = { timeLimit };
