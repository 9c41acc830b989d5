'use strict';
// npm's prepack step: builds the add-on, the probe and the calculator pack in
// build-prebuild/ and puts them in prebuilds/<platform>-<arch>/ (the pack in
// packs/calculator/), where the loader and "zel init --example" find them in
// an installed package. The binaries are never committed.
const fs = require('node:fs');
const path = require('node:path');
const { root, buildAddon } = require('./build-addon');

const build = buildAddon(path.join(root, 'build-prebuild'));
const target = path.join(root, 'prebuilds', `${process.platform}-${process.arch}`);
fs.mkdirSync(target, { recursive: true });
for (const name of ['zel.node', 'zel-probe']) {
  // A copy under a temporary name, renamed into place: never half a binary.
  const temporary = path.join(target, `.${name}.${process.pid}`);
  fs.copyFileSync(path.join(build, 'Release', name), temporary);
  fs.chmodSync(temporary, 0o755);
  fs.renameSync(temporary, path.join(target, name));
}
// The pack as a whole directory, laid out aside and renamed into place, so
// that no module of an earlier build stays in it.
const packs = path.join(target, 'packs');
const pack = path.join(packs, 'calculator');
const temporary = path.join(packs, `.calculator.${process.pid}`);
fs.mkdirSync(packs, { recursive: true });
fs.cpSync(path.join(build, 'packs', 'calculator'), temporary, { recursive: true });
fs.rmSync(pack, { recursive: true, force: true });
fs.renameSync(temporary, pack);
process.stderr.write(`zel: prebuilt add-on and calculator pack in ${path.relative(root, target)}\n`);
