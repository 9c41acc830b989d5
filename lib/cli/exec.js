'use strict';
const { UsageError, parse, appDir, syntaxPath, api } = require('./common');
const { report } = require('./report');

const usage = `usage: zel exec STATEMENT --syntax PACK [--app DIR] [--json]

Runs one statement. PACK is a syntax file below DIR/node_modules: a name
such as calculator.zel, or a path (with a "/") that leads there; a pack
anywhere else is refused. The statement's module is
looked for in the pack's own directory. Prints the module's result; when no
form accepted the statement or its module cannot be loaded, prints why to
standard error and exits with status 1. --json prints the whole outcome as
JSON instead. Put "--" before a statement that begins with "-".`;

function exec(args) {
  const options = { app: { type: 'string' }, syntax: { type: 'string' }, json: { type: 'boolean' } };
  const { values, positionals } = parse(args, options, 1);
  if (positionals.length !== 1) throw new UsageError('exec needs a STATEMENT');
  if (!values.syntax) throw new UsageError('exec needs --syntax PACK');
  const app = appDir(values);
  return report(() => api().exec(app, positionals[0], syntaxPath(app, values.syntax)),
    { command: 'exec', statement: positionals[0], app, json: values.json });
}

module.exports = { usage, command: exec };
