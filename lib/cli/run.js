'use strict';
const path = require('node:path');
const { UsageError, parse, appDir, api, report } = require('./common');

const usage = `usage: zel run PROGRAM [--app DIR] [--timeout MS]

Runs the program file PROGRAM. Its first line holding ":s:" names the syntax
pack, below DIR/node_modules. Prints the result of the last statement, if any.
A program that ends through the stop answer exits with status 0. When the
result is a failure (the program, its pack, a statement's form or a module
not found or not loadable), prints it with its line to standard error and
exits with status 1; also when the program runs longer than MS milliseconds.`;

function run(args) {
  const options = { app: { type: 'string' }, timeout: { type: 'string' } };
  const { values, positionals } = parse(args, options, 1);
  if (positionals.length !== 1) throw new UsageError('run needs a PROGRAM');
  const app = appDir(values);
  let timeout;
  if (values.timeout !== undefined) {
    if (!/^\d+$/.test(values.timeout)) {
      throw new UsageError('--timeout needs a whole number of milliseconds');
    }
    timeout = Number(values.timeout);
  }
  const program = path.resolve(positionals[0]);
  return report(api().run(app, program, { timeout }), 'run');
}

module.exports = { usage, command: run };
