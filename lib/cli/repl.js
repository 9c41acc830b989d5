'use strict';
const readline = require('node:readline');
const { parse, appDir, syntaxPath, addon, print } = require('./common');

const usage = `usage: zel repl [--syntax PACK] [--app DIR]

Reads statements from standard input and prints each result. A statement
ends with a word holding ";" and may span lines. A declaration such as
":s:calculator.zel;" switches to another pack: a path (with a "/"), or a
name below DIR/node_modules. PACK is the first pack (default "*.*", every
installed pack). On a terminal, lines can be edited and recalled; the loop
ends at end of input (Ctrl-D).`;

// Cuts input into statements as the engine's standard-input loop does: words
// are separated by any white space; a word holding ";" completes the
// statement, whose words are joined by one space, " ;" becoming ";".
function statementCutter() {
  let buffer = '';
  return {
    // The statements that `line` completes, in order.
    feed(line) {
      const statements = [];
      for (const word of line.split(/\s+/).filter(Boolean)) {
        if (!word.includes(';')) {
          buffer += word + ' ';
          continue;
        }
        statements.push((buffer + word).split(' ;').join(';'));
        buffer = '';
      }
      return statements;
    },
    pending: () => buffer,
  };
}

// The syntax path a declaration (a statement holding ":s:" or "(CURL)")
// names, or null for any other statement. Same rule as the engine's loop.
function declaredSyntax(app, statement) {
  if (!statement.includes(':s:') && !statement.includes('(CURL)')) return null;
  const named = ['(CZEL)', ':s:', '(CURL)', ';'].reduce((text, marker) => text.split(marker).join(''), statement);
  return /[/\\]/.test(named) ? named : `${app}/node_modules/${named}`;
}

function repl(args) {
  const options = { app: { type: 'string' }, syntax: { type: 'string' } };
  const { values } = parse(args, options, 0);
  const app = appDir(values);
  let syntax = syntaxPath(app, values.syntax || '*.*');
  const zel = addon();
  const cutter = statementCutter();
  const terminal = Boolean(process.stdin.isTTY && process.stdout.isTTY);
  const lines = readline.createInterface({
    input: process.stdin, output: terminal ? process.stdout : undefined, terminal, historySize: 1000,
  });
  const prompt = () => {
    if (!terminal) return;
    lines.setPrompt(cutter.pending() ? '...> ' : 'zel> ');
    lines.prompt();
  };
  lines.on('line', (line) => {
    for (const statement of cutter.feed(line)) {
      const declared = declaredSyntax(app, statement);
      if (declared !== null) syntax = declared;
      else print(zel.Commandes(app, statement, syntax));
    }
    prompt();
  });
  if (terminal) {
    process.stdout.write(`zel repl: pack ${syntax}; ":s:NAME.zel;" switches pack, Ctrl-D ends.\n`);
  }
  prompt();
  return new Promise((resolve) => {
    lines.on('close', () => {
      if (terminal) process.stdout.write('\n');
      if (cutter.pending()) {
        process.stderr.write(`zel repl: unfinished statement left out: ${cutter.pending()}\n`);
      }
      resolve(0);
    });
  });
}

module.exports = { usage, command: repl };
