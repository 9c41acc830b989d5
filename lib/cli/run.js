'use strict';
const path = require('node:path');
const { UsageError, parse, appDir, api } = require('./common');
const { MAX_DELAY, EVERY_RESULT } = require('../errors');
const { report } = require('./report');

const usage = `usage: zel run PROGRAM [--app DIR] [--timeout MS] [--json]

Runs the program file PROGRAM, or the program read from standard input
when PROGRAM is "-". Its first line holding ":s:" names the syntax pack,
below DIR/node_modules. Prints each statement's result that is not empty,
one a line, in order, once the program has run, but not the stop answer;
every result and every failure is shown, past the 100 an outcome lists.
Each statement that failed (the program, its pack, a statement's form or a
module not found, not loadable or refused) is printed to standard error as
PROGRAM:LINE: TEXT (<stdin>:LINE: TEXT for "-"), and the exit status is
then 1, also when the program ends through the stop answer afterwards;
otherwise it is 0. The run goes on past a failing statement. Exits with
status 1 when the program runs longer than MS milliseconds. --json prints
the whole outcome as JSON instead.`;

function run(args) {
  const options = { app: { type: 'string' }, timeout: { type: 'string' }, json: { type: 'boolean' } };
  const { values, positionals } = parse(args, options, 1);
  if (positionals.length !== 1) throw new UsageError('run needs a PROGRAM');
  let timeout;
  if (values.timeout !== undefined) {
    timeout = Number(values.timeout);
    if (!/^\d+$/.test(values.timeout) || timeout > MAX_DELAY) {
      throw new UsageError(`--timeout needs a whole number of milliseconds from 0 to ${MAX_DELAY}`);
    }
  }
  // After the arguments' checks: a bad argument is reported alone.
  const app = appDir(values);
  if (positionals[0] === '-') {
    return report(async () => api().run(app, { text: await readStdin() }, { timeout, results: EVERY_RESULT }),
      { command: 'run', program: '<stdin>', app, json: values.json });
  }
  const program = path.resolve(positionals[0]);
  return report(() => api().run(app, program, { timeout, results: EVERY_RESULT }),
    { command: 'run', program: positionals[0], app, json: values.json });
}

// The whole of standard input, its bytes as they are: the engine reads
// them as it reads a program file's.
async function readStdin() {
  const chunks = [];
  for await (const chunk of process.stdin) chunks.push(chunk);
  return Buffer.concat(chunks);
}

module.exports = { usage, command: run };
