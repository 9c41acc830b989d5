'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { UsageError, parse, appDir, addon, print, isFile } = require('./common');

const usage = `usage: zel compile SOURCE [SUFFIX] [--app DIR]

Compiles the script SOURCE. The output path is SOURCE with every ".txt" and
".db" replaced by SUFFIX (default ".zel"). Messages come from the catalogue
of the application in DIR. Exits with status 1 when the compilation failed.`;

// Source lines that cannot be compiled: 1 to 12 bytes, other than a lone
// carriage return.
function shortLines(source) {
  const lines = fs.readFileSync(source).toString('latin1').split('\n');
  if (lines[lines.length - 1] === '') lines.pop();
  return lines
    .map((line, i) => ({ line, number: i + 1 }))
    .filter(({ line }) => line.length >= 1 && line.length <= 12 && line !== '\r');
}

function compile(args) {
  const { values, positionals } = parse(args, { app: { type: 'string' } }, 2);
  if (positionals.length < 1) throw new UsageError('compile needs a SOURCE');
  const app = appDir(values);
  const source = path.resolve(positionals[0]);
  const suffix = positionals.length > 1 ? positionals[1] : '.zel';
  const output = source.split('.txt').join(suffix).split('.db').join(suffix);
  const zel = addon();
  // A comment statement runs nothing; it tells the engine which application's
  // catalogue the compiler's messages come from.
  zel.Commandes(app, '## zel compile', '*.*');
  const before = fs.existsSync(output) ? fs.statSync(output).ino : null;
  const result = zel.Compiler(source, suffix);
  // A successful compilation always puts a new file in place.
  const after = fs.existsSync(output) ? fs.statSync(output).ino : null;
  const compiled = after !== null && after !== before && output !== source;
  if (compiled) {
    print(result);
    return 0;
  }
  process.stderr.write(result + '\n');
  if (isFile(source)) {
    for (const { line, number } of shortLines(source)) {
      process.stderr.write(`  line ${number} is too short to compile: ${JSON.stringify(line)}\n`);
    }
  }
  return 1;
}

module.exports = { usage, command: compile };
