'use strict';
// A time limit for a whole test file: the file's process ends, failed, once
// it has run `seconds`. A regression that leaves something open (a pool
// never closed, a child never reaped) then fails its file instead of
// holding "node --test" until CI gives up. The timer never keeps the
// process alive by itself.
// A process that ends with status 0 before its tests do (a stop answer
// under the classic exports) fails too, its remaining tests unrun.
const path = require('node:path');

function timeLimit(seconds) {
  const file = path.basename(require.main ? require.main.filename : process.argv[1] || 'test file');
  setTimeout(() => {
    process.stderr.write(`${file}: still running after ${seconds} s (a pool or child left open?); ended\n`);
    process.exit(1);
  }, seconds * 1000).unref();
  let finished = false;
  require('node:test').after(() => { finished = true; });
  process.on('exit', (code) => {
    if (finished || code !== 0) return;
    process.stderr.write(`${file}: the process ended before its tests did\n`);
    process.exitCode = 1;
  });
}

module.exports = { timeLimit };
