'use strict';
// Finds the native add-on the way prebuilt Node.js add-ons are found: a build
// made on this machine (build/Release) first, then the one shipped in the
// package under prebuilds/<platform>-<arch>/.
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const platformDir = `${process.platform}-${process.arch}`;
const searchDirs = [
  path.join(root, 'build', 'Release'),
  path.join(root, 'prebuilds', platformDir),
];

// Every existing copy of the native file `name` (zel.node or zel-probe), in
// the order they are tried.
function nativeFiles(name) {
  return searchDirs.map((dir) => path.join(dir, name)).filter((file) => fs.existsSync(file));
}

// The first copy of `name`, or null when there is none.
function nativeFile(name) {
  return nativeFiles(name)[0] || null;
}

// The built sample calculator pack, laid out for "zel add-pack": a local
// build's first, then the one shipped under prebuilds/. Null when neither
// exists.
function examplePack() {
  const dirs = [
    path.join(root, 'build', 'packs', 'calculator'),
    path.join(root, 'prebuilds', platformDir, 'packs', 'calculator'),
  ];
  return dirs.find((dir) => fs.existsSync(path.join(dir, 'calculator.zel'))) || null;
}

// The copy of zel.node that load() loaded on this thread, or null.
let loaded = null;

// Loads the add-on: the first copy that loads wins, so a prebuilt add-on that
// this system cannot load gives way to a local build. Throws when none loads.
function load() {
  const errors = [];
  for (const file of nativeFiles('zel.node')) {
    try {
      const addon = require(file);
      loaded = file;
      return addon;
    } catch (error) {
      errors.push(`${file}: ${error.message}`);
    }
  }
  const tried = errors.length ? errors.join('\n  ') : `no zel.node in ${searchDirs.join(' or ')}`;
  throw new Error(`zel: cannot load the add-on for ${platformDir}:\n  ${tried}\n` +
    'Rebuild it with "npm rebuild zel" (needs a C++17 compiler and CMake).');
}

module.exports = { root, nativeFile, examplePack, load, loadedFile: () => loaded };
