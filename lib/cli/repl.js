'use strict';
const readline = require('node:readline');
const { parse, appDir, syntaxPath, addon } = require('./common');
const { printOutcome } = require('./report');
const { userText } = require('../user_text');

const usage = `usage: zel repl [--syntax PACK] [--app DIR]

Reads statements from standard input and prints each result; failures go to
standard error. A statement ends with a word holding ";" and may span lines.
A declaration such as ":s:calculator.zel;" switches to another pack: a file
below DIR/node_modules, confined there as a program's header is (what is
typed is not trusted). PACK is the first pack (default "*.*", every
installed pack). On a terminal, lines can be edited and recalled; the loop
ends at end of input (Ctrl-D). The exit status is 1 when a statement failed,
otherwise 0.`;

function repl(args) {
  const options = { app: { type: 'string' }, syntax: { type: 'string' } };
  const { values } = parse(args, options, 0);
  const app = appDir(values);
  let syntax = syntaxPath(app, values.syntax || '*.*');
  const engine = addon();
  // The statements typed are one session: modules keep their state across them.
  const { execInSession } = require('../promise').promiseApi(engine);
  let pending = '';
  let failed = false;
  const terminal = Boolean(process.stdin.isTTY && process.stdout.isTTY);
  const lines = readline.createInterface({
    input: process.stdin, output: terminal ? process.stdout : undefined, terminal, historySize: 1000,
  });
  const prompt = () => {
    if (!terminal) return;
    lines.setPrompt(pending ? '...> ' : 'zel> ');
    lines.prompt();
  };
  // One statement at a time, in the order they were typed: the engine's
  // cutter makes the statements, the engine's rule confines declarations.
  async function take(line) {
    const [rest, ...statements] = engine.cutStatements(pending, line);
    pending = rest;
    for (const statement of statements) {
      const declared = engine.declaredSyntax(app, statement);
      if (declared === null) {
        const outcome = await execInSession(app, statement, syntax);
        failed = failed || outcome.failed;
        printOutcome(outcome, { statement, app });
      } else if (declared.path) {
        syntax = declared.path;
      } else {
        failed = true;
        process.stderr.write(`${userText(declared.error, app)}\n`);
      }
    }
    prompt();
  }
  let queue = Promise.resolve();
  lines.on('line', (line) => { queue = queue.then(() => take(line)); });
  if (terminal) {
    process.stdout.write(`zel repl: pack ${syntax}; ":s:NAME.zel;" switches pack, Ctrl-D ends.\n`);
  }
  prompt();
  return new Promise((resolve) => {
    lines.on('close', () => queue.then(() => {
      if (terminal) process.stdout.write('\n');
      if (pending) process.stderr.write(`zel repl: unfinished statement left out: ${pending}\n`);
      resolve(failed ? 1 : 0);
    }));
  });
}

module.exports = { usage, command: repl };
