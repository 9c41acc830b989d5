'use strict';
// Waiting, without a fixed delay, until a module of the sleep fixture is
// inside its call.
const fs = require('node:fs');

// True when a thread of the process `pid` sleeps in clock_nanosleep (system
// call 230 on x86-64), as the sleep fixture does.
function sleeping(pid) {
  return fs.readdirSync(`/proc/${pid}/task`).some((task) => {
    try {
      return fs.readFileSync(`/proc/${pid}/task/${task}/syscall`, 'utf8').startsWith('230 ');
    } catch {
      return false;  // the thread has ended
    }
  });
}

// Resolves once a thread of the process `pid` sleeps as above.
async function untilSleeping(pid) {
  while (!sleeping(pid)) await new Promise((resolve) => setTimeout(resolve, 5));
}

module.exports = { untilSleeping };
