'use strict';
const path = require('node:path');
const { UsageError, parse, appDir, addon, print, isFile } = require('./common');

const usage = `usage: zel run PROGRAM [--app DIR]

Runs the program file PROGRAM. Its first line holding ":s:" names the syntax
pack, below DIR/node_modules. Prints the result of the last statement, if any.
A program that ends through the stop answer exits with status 0.`;

function run(args) {
  const { values, positionals } = parse(args, { app: { type: 'string' } }, 1);
  if (positionals.length !== 1) throw new UsageError('run needs a PROGRAM');
  const app = appDir(values);
  const program = path.resolve(positionals[0]);
  const result = addon().Executer(app, program);
  if (!isFile(program)) {
    process.stderr.write(result + '\n');
    return 1;
  }
  print(result);
  return 0;
}

module.exports = { usage, command: run };
