'use strict';
// npm's prepack step: builds the add-on and the probe in build-prebuild/ and
// puts them in prebuilds/<platform>-<arch>/, where the loader finds them in
// an installed package. The binaries are never committed.
const fs = require('node:fs');
const path = require('node:path');
const { root, buildAddon } = require('./build-addon');

const release = buildAddon(path.join(root, 'build-prebuild'));
const target = path.join(root, 'prebuilds', `${process.platform}-${process.arch}`);
fs.mkdirSync(target, { recursive: true });
for (const name of ['zel.node', 'zel-probe']) {
  // A copy under a temporary name, renamed into place: never half a binary.
  const temporary = path.join(target, `.${name}.${process.pid}`);
  fs.copyFileSync(path.join(release, name), temporary);
  fs.chmodSync(temporary, 0o755);
  fs.renameSync(temporary, path.join(target, name));
}
process.stderr.write(`zel: prebuilt add-on in ${path.relative(root, target)}\n`);
