'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { UsageError, parse, appDir, api, print } = require('./common');

const usage = `usage: zel compile SOURCE [SUFFIX] [--app DIR]

Compiles the script SOURCE. The output path is SOURCE with every ".txt" and
".db" replaced by SUFFIX (default ".zel"). Messages come from the catalogue
of the application in DIR. Exits with status 1 when the compilation failed,
naming each line that is too short to compile (a compiled line needs 13
bytes or more).`;

// The text of the source lines numbered `numbers` (1 for the first line),
// read as UTF-8 as the engine's own texts are shown.
function sourceLines(source, numbers) {
  let lines = [];
  try {
    lines = fs.readFileSync(source, 'utf8').split('\n');
  } catch {
    // Named by number only.
  }
  return numbers.map((number) => ({ number, text: lines[number - 1] }));
}

async function compile(args) {
  const { values, positionals } = parse(args, { app: { type: 'string' } }, 2);
  if (positionals.length < 1) throw new UsageError('compile needs a SOURCE');
  const app = appDir(values);
  const source = path.resolve(positionals[0]);
  const suffix = positionals.length > 1 ? positionals[1] : '.zel';
  const outcome = await api().compile(source, suffix, { app });
  if (!outcome.logged) {
    process.stderr.write('zel compile: note: ./requests.log was not written (it is a link, ' +
      'not a regular file, or cannot be written)\n');
  }
  if (!outcome.failed) {
    print(outcome.result);
    return 0;
  }
  process.stderr.write(outcome.result + '\n');
  const tooShort = outcome.diagnostics.filter((d) => d.line !== null).map((d) => d.line);
  for (const { number, text } of sourceLines(source, tooShort)) {
    const shown = text === undefined ? '' : `: ${JSON.stringify(text)}`;
    process.stderr.write(`  line ${number} is too short to compile${shown}\n`);
  }
  return 1;
}

module.exports = { usage, command: compile };
