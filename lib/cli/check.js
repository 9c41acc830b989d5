'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { parse, appDir } = require('./common');
const { loadLimitOption, loadSettings, probeRows, formsOf, loadProblem, syntaxModulesIn } = require('./inspect');

const usage = `usage: zel check [--app DIR] [--load-limit MS]

Lists the syntax packs installed in DIR/node_modules and reads their forms,
loads every syntax module and every module the packs name (each in a
process of its own, making and destroying one object), and checks the
message catalogue. Each problem is a line "FILE:LINE: what is wrong; what
to do" (a module file has no LINE). Exits with status 1 when it finds any.

Loading a module runs its code (its static data and constructor). Started
as root, zel loads each module as the user nobody instead, from within the
module's directory: the module file must be readable by others. Whatever a
module starts is ended with its process, and a load that takes longer than
MS milliseconds (default 10000) is a problem.`;

// The catalogues zel ships, by file name.
const shippedCatalogues = ['lang.conf', 'lang.fr.conf'].map((name) => path.join(__dirname, '..', '..', 'lang', name));

// The lines of the shipped catalogue closest to `catalogue` (the one that
// shares the most lines with it: its language), or [] when it is unreadable.
function closestShipped(catalogue) {
  let own;
  try {
    own = new Set(fs.readFileSync(catalogue, 'latin1').split('\n'));
  } catch {
    return [];
  }
  const shipped = shippedCatalogues.map((file) => fs.readFileSync(file, 'latin1').split('\n'));
  const shared = (lines) => lines.filter((line) => own.has(line)).length;
  return shipped.reduce((best, lines) => (shared(lines) > shared(best) ? lines : best));
}

// What a message's state in the catalogue means, and what to do. A missing
// message gets the line to add from the shipped catalogue closest to the
// home's (`shipped`), so that an edited catalogue keeps its other lines.
const messageProblems = {
  missing: (n, shipped) => {
    const line = shipped.find((l) => l.startsWith(`:${n}:`));
    return `message ${n} is missing (outcomes show the text zel ships meanwhile); ` +
      (line ? `add this line to the catalogue, its other lines stay as they are: ${line}`
        : `add a line ":${n}:TEXT" (lang/lang.conf in the zel package has every message)`);
  },
  'no-E1': (n) => `message ${n} lacks the :E1: placeholder; put :E1: where the message ` +
    'names what it is about, as lang/lang.conf in the zel package does',
  unreadable: () => 'cannot be read: the catalogue is missing or unreadable; "zel init DIR" installs it',
};

async function check(args) {
  const { values } = parse(args, { app: { type: 'string' }, ...loadLimitOption }, 0);
  const modules = path.join(appDir(values), 'node_modules');
  const settings = loadSettings(values);
  const rows = probeRows(['list', path.dirname(modules)]);
  let problems = 0;
  const problem = (text) => {
    problems++;
    process.stdout.write(`${text}\n`);
  };

  const packs = rows.filter((r) => r[0] === 'pack').map((r) => r[1]);
  process.stdout.write(`Syntax packs in ${modules}:\n`);
  if (packs.length === 0) {
    problem(`${modules}: no syntax pack (no NAME.zel file); install one with "zel add-pack PACK --app DIR"`);
  }
  const toLoad = rows.filter((r) => r[0] === 'syntax-module').map((r) => ({ kind: r[0], file: r[1] }));
  // JavaScript syntax modules, which the probe does not load.
  for (const file of syntaxModulesIn(path.join(modules, 'korrin_linux'))) {
    if (file.endsWith('.js')) toLoad.push({ kind: 'syntax-module', file });
  }
  if (toLoad.length === 0) {
    problem(`${path.join(modules, 'korrin_linux')}: no syntax module; packs bring theirs in ` +
      'korrin_linux/, installed with "zel add-pack PACK --app DIR"');
  }
  for (const pack of packs) {
    process.stdout.write(`  ${path.basename(pack)}\n`);
    const forms = formsOf(pack, path.join(modules, path.basename(pack, '.zel')));
    forms.problems.forEach(problem);
    toLoad.push(...forms.modules);
  }

  process.stdout.write('Modules:\n');
  for (const module of toLoad) {
    const found = await loadProblem(module, settings);
    if (found) problem(found);
    else process.stdout.write(`  ok      ${module.file}\n`);
  }

  const catalogue = path.join(modules, 'zel_linux', 'lang.conf');
  process.stdout.write(`Catalogue ${catalogue}:\n`);
  const messages = rows.filter((r) => r[0] === 'message');
  const shipped = closestShipped(catalogue);
  for (const [, number, state, line] of messages) {
    if (state !== 'ok') {
      problem(`${catalogue}${line !== '0' ? `:${line}` : ''}: ${messageProblems[state](number, shipped)}`);
    }
    if (state === 'unreadable') break;
  }
  if (messages.every((r) => r[2] === 'ok')) process.stdout.write('  ok      every message\n');

  process.stdout.write(problems ? `${problems} problem(s) found\n` : 'All good.\n');
  return problems ? 1 : 0;
}

module.exports = { usage, command: check };
