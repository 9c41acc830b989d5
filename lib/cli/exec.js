'use strict';
const { UsageError, parse, appDir, syntaxPath, api, report } = require('./common');

const usage = `usage: zel exec STATEMENT --syntax PACK [--app DIR]

Runs one statement. PACK is a syntax file: a path (with a "/"), or a name
below DIR/node_modules such as calculator.zel. The statement's module is
looked for in the pack's own directory. Prints the module's result; when no
form accepted the statement or its module cannot be loaded, prints why to
standard error and exits with status 1. Put "--" before a statement that
begins with "-".`;

function exec(args) {
  const options = { app: { type: 'string' }, syntax: { type: 'string' } };
  const { values, positionals } = parse(args, options, 1);
  if (positionals.length !== 1) throw new UsageError('exec needs a STATEMENT');
  if (!values.syntax) throw new UsageError('exec needs --syntax PACK');
  const app = appDir(values);
  return report(api().exec(app, positionals[0], syntaxPath(app, values.syntax)), 'exec');
}

module.exports = { usage, command: exec };
