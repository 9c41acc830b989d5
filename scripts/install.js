'use strict';
// npm's install step: keeps the prebuilt add-on when it loads on this
// system, otherwise builds it from source into build/Release.
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { root, buildAddon } = require('./build-addon');

// A development checkout (it has the tests) builds with "npm run build".
if (fs.existsSync(path.join(root, 'test'))) process.exit(0);

// Loading in a process of its own: a bad binary cannot take this one down.
function loads() {
  const child = spawnSync(process.execPath, ['-e', 'require(".")'], { cwd: root, encoding: 'utf8' });
  return child.status === 0;
}

if (loads()) process.exit(0);
process.stdout.write(`zel: no prebuilt add-on for ${process.platform}-${process.arch} loads here; building from source\n`);
try {
  buildAddon(path.join(root, 'build'));
} catch (error) {
  process.stderr.write(`zel: ${error.message}\nzel: the source build needs a C++17 compiler and CMake 3.24 or later\n`);
  process.exit(1);
}
if (!loads()) {
  process.stderr.write('zel: the add-on was built but does not load\n');
  process.exit(1);
}
