'use strict';
// The zel command line: each command is a module of this directory exporting
// its usage text and `command(args)`, which returns the exit status (or a
// promise of it) and throws a UsageError on bad arguments (status 2). Only
// the command asked for is loaded.
const { UsageError, HelpRequest } = require('./common');

const commands = {
  run: './run',
  exec: './exec',
  compile: './compile',
  check: './check',
  repl: './repl',
  init: './init',
  'add-pack': './add_pack',
  worker: './worker',
};

const usage = `usage: zel COMMAND [ARGS]
       zel --version

Commands:
  run PROGRAM [--app DIR] [--timeout MS]   run a program file ("-": standard input)
  exec STATEMENT --syntax PACK [--app DIR] run one statement
  compile SOURCE [SUFFIX] [--app DIR]      compile a script (SUFFIX defaults to .zel)
  check [--app DIR]                        check the packs, modules and catalogue
  repl [--syntax PACK] [--app DIR]         run statements typed or piped in
  init DIR [--lang en|fr] [--example]      lay out an application home in DIR
  add-pack PACK [--app DIR] [--force]      install a built pack into a home
  worker --redis URL --queue NAME --app NAME=DIR   take jobs from a queue on Redis

DIR is the application directory, the one holding node_modules; it defaults
to the current directory. "zel COMMAND --help" tells more.`;

async function main(argv) {
  const [name, ...args] = argv;
  if (name === undefined || name === '--help' || name === '-h' || name === 'help') {
    process.stdout.write(usage + '\n');
    return name === undefined ? 2 : 0;
  }
  if (name === '--version') {
    process.stdout.write(require('../../package.json').version + '\n');
    return 0;
  }
  const entry = Object.hasOwn(commands, name) ? require(commands[name]) : null;
  if (!entry) {
    const what = name.startsWith('-') ? `unknown option ${name}` : `unknown command "${name}"`;
    process.stderr.write(`zel: ${what}\n\n${usage}\n`);
    return 2;
  }
  try {
    return await entry.command(args);
  } catch (error) {
    if (error instanceof HelpRequest) {
      process.stdout.write(entry.usage + '\n');
      return 0;
    }
    if (!(error instanceof UsageError)) throw error;
    process.stderr.write(`zel ${name}: ${error.message}\n\n${entry.usage}\n`);
    return 2;
  }
}

module.exports = { main };
