'use strict';
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { nativeFile } = require('../addon');
const { parse, appDir } = require('./common');

const usage = `usage: zel check [--app DIR]

Lists the syntax packs installed in DIR/node_modules, loads every syntax
module and every module the packs name (each in a process of its own), and
checks the message catalogue. Exits with status 1 when something is wrong.`;

function probe(args) {
  const probePath = nativeFile('zel-probe');
  if (!probePath) {
    process.stderr.write('zel: zel-probe is not built; run "npm run build" first\n');
    process.exit(1);
  }
  const child = spawnSync(probePath, args, { encoding: 'utf8' });
  if (child.error) {
    process.stderr.write(`zel: cannot run ${probePath}: ${child.error.message}\n`);
    process.exit(1);
  }
  return child;
}

const messageProblems = {
  missing: 'is missing',
  'no-E1': 'lacks the :E1: placeholder',
  unreadable: 'cannot be read: the catalogue is missing or unreadable',
};

function check(args) {
  const { values } = parse(args, { app: { type: 'string' } }, 0);
  const app = appDir(values);
  const rows = probe(['list', app]).stdout.split('\n').filter(Boolean).map((l) => l.split('\t'));
  let problems = 0;
  const problem = (text) => {
    problems++;
    process.stdout.write(`  PROBLEM ${text}\n`);
  };

  const packs = rows.filter((r) => r[0] === 'pack');
  process.stdout.write(`Syntax packs in ${path.join(app, 'node_modules')}:\n`);
  if (packs.length === 0) problem('no syntax pack (no NAME.zel file)');
  for (const [, pack] of packs) process.stdout.write(`  ${path.basename(pack)}\n`);

  process.stdout.write('Modules:\n');
  const libs = rows.filter((r) => r[0] === 'syntax-module');
  if (libs.length === 0) problem('no syntax module in node_modules/korrin_linux');
  for (const [kind, file] of [...libs, ...rows.filter((r) => r[0] === 'module')]) {
    const loaded = probe(['load', kind, file]);
    const answer = (loaded.stdout || '').trim() || `crashed while loading (${loaded.signal || loaded.status})`;
    if (answer === 'ok') process.stdout.write(`  ok      ${file}\n`);
    else problem(`${file}: ${answer}`);
  }

  process.stdout.write(`Catalogue ${path.join(app, 'node_modules', 'zel_linux', 'lang.conf')}:\n`);
  const messages = rows.filter((r) => r[0] === 'message');
  for (const [, number, state] of messages) {
    if (state !== 'ok') problem(`message ${number} ${messageProblems[state]}`);
  }
  if (messages.every((r) => r[2] === 'ok')) process.stdout.write('  ok      every message\n');

  process.stdout.write(problems ? `${problems} problem(s) found\n` : 'All good.\n');
  return problems ? 1 : 0;
}

module.exports = { usage, command: check };
