'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { root, examplePack } = require('../addon');
const { UsageError, parse } = require('./common');
const { installFiles } = require('./files');
const { packFiles } = require('./add_pack');

const usage = `usage: zel init DIR [--lang en|fr] [--example] [--force]

Lays out an application home in DIR: DIR/node_modules/zel_linux/lang.conf,
the message catalogue (English, or French with --lang fr), and
DIR/node_modules/korrin_linux/ for syntax modules. Install packs with
"zel add-pack PACK --app DIR".

--example adds the sample calculator pack, built for this machine (its
forms, its modules and its syntax module), and its program DIR/program.txt:
"zel run DIR/program.txt --app DIR" runs it. It also adds the pack jscalc,
a few of the calculator's forms whose modules are JavaScript files
(DIR/node_modules/jscalc/*.js): edit one and the next statement uses it.

A different file already there is kept, and nothing is written, unless
--force is given.

Keep DIR out of an npm project's own node_modules: npm removes from there
what it did not install itself.`;

const catalogues = { en: 'lang.conf', fr: 'lang.fr.conf' };

// The sample's files as installFiles copies into `home`, or null when the
// sample pack is not built here.
function exampleCopies(home) {
  const pack = examplePack();
  if (!pack) return null;
  return [
    ...packFiles(pack).map((file) => ({ from: path.join(pack, file), to: path.join(home, 'node_modules', file) })),
    { from: path.join(root, 'examples', 'calculator', 'program.txt'), to: path.join(home, 'program.txt') },
    ...['jscalc.zel', 'jscalc/vars.js', 'jscalc/say.js'].map((file) => ({
      from: path.join(root, 'examples', 'calculator', 'js', path.basename(file)),
      to: path.join(home, 'node_modules', file),
    })),
  ];
}

function init(args) {
  const options = { lang: { type: 'string' }, example: { type: 'boolean' }, force: { type: 'boolean' } };
  const { values, positionals } = parse(args, options, 1);
  if (positionals.length !== 1) throw new UsageError('init needs a DIR');
  const lang = values.lang || 'en';
  if (!catalogues[lang]) throw new UsageError(`unknown language ${lang} (en or fr)`);
  const home = path.resolve(positionals[0]);
  const modules = path.join(home, 'node_modules');
  const copies = [{ from: path.join(root, 'lang', catalogues[lang]), to: path.join(modules, 'zel_linux', 'lang.conf') }];
  if (values.example) {
    const example = exampleCopies(home);
    if (!example) {
      process.stderr.write('zel init: the sample calculator pack is not built here; ' +
        '"npm rebuild zel" builds it (needs a C++17 compiler and CMake)\n');
      return 1;
    }
    copies.push(...example);
  }
  fs.mkdirSync(path.join(modules, 'korrin_linux'), { recursive: true });
  const result = installFiles(copies, values.force);
  for (const file of result.conflicts) {
    process.stderr.write(`zel init: ${file} differs from zel's; --force replaces it\n`);
  }
  if (result.conflicts.length) return 1;
  if (fs.existsSync(path.join(home, 'package.json'))) {
    process.stderr.write(`zel init: warning: ${home} is an npm project; npm install removes ` +
      'from its node_modules what npm did not install. Prefer a home beside the project.\n');
  }
  const dir = positionals[0];
  process.stdout.write(`Application home ready in ${home}\n` + (values.example
    ? `Next: zel run ${path.join(dir, 'program.txt')} --app ${dir}\n`
    : `Next: zel add-pack PACK --app ${dir}\n`));
  return 0;
}

module.exports = { usage, command: init };
