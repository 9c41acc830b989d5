'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { root } = require('../addon');
const { UsageError, parse } = require('./common');
const { installFiles } = require('./files');

const usage = `usage: zel init DIR [--lang en|fr] [--force]

Lays out an application home in DIR: DIR/node_modules/zel_linux/lang.conf,
the message catalogue (English, or French with --lang fr), and
DIR/node_modules/korrin_linux/ for syntax modules. Install packs with
"zel add-pack PACK --app DIR". A different catalogue already there is kept
unless --force is given.

Keep DIR out of an npm project's own node_modules: npm removes from there
what it did not install itself.`;

const catalogues = { en: 'lang.conf', fr: 'lang.fr.conf' };

function init(args) {
  const options = { lang: { type: 'string' }, force: { type: 'boolean' } };
  const { values, positionals } = parse(args, options, 1);
  if (positionals.length !== 1) throw new UsageError('init needs a DIR');
  const lang = values.lang || 'en';
  if (!catalogues[lang]) throw new UsageError(`unknown language ${lang} (en or fr)`);
  const home = path.resolve(positionals[0]);
  const modules = path.join(home, 'node_modules');
  fs.mkdirSync(path.join(modules, 'korrin_linux'), { recursive: true });
  const result = installFiles([{
    from: path.join(root, 'lang', catalogues[lang]),
    to: path.join(modules, 'zel_linux', 'lang.conf'),
  }], values.force);
  for (const file of result.conflicts) {
    process.stderr.write(`zel init: ${file} holds another catalogue; --force replaces it\n`);
  }
  if (result.conflicts.length) return 1;
  if (fs.existsSync(path.join(home, 'package.json'))) {
    process.stderr.write(`zel init: warning: ${home} is an npm project; npm install removes ` +
      'from its node_modules what npm did not install. Prefer a home beside the project.\n');
  }
  process.stdout.write(`Application home ready in ${home}\n` +
    `Next: zel add-pack PACK --app ${positionals[0]}\n`);
  return 0;
}

module.exports = { usage, command: init };
