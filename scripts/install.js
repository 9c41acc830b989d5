'use strict';
// npm's install step: keeps an add-on that loads on this system (the
// prebuilt one, or a local build), otherwise builds it from source into
// build/, whatever else the folder holds: a package from the registry, an
// unpacked tarball, or a checkout installed by path ("npm install ../zel").
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { root, buildAddon } = require('./build-addon');

// Loading in a process of its own: a bad binary cannot take this one down.
function loads() {
  const child = spawnSync(process.execPath, ['-e', 'require(".")'], { cwd: root, encoding: 'utf8' });
  return child.status === 0;
}

function resolvable(name) {
  try {
    require.resolve(`${name}/package.json`, { paths: [root] });
    return true;
  } catch {
    return false;
  }
}

// The environment for an npm of our own in `root`: without the settings of
// the npm that runs this step (its project, its global flag), which would
// send the install there, but with its cache, registry and network settings.
function ownNpmEnv() {
  const kept = /^npm_config_(cache|userconfig|globalconfig|registry|cafile|ca|strict_ssl|proxy|https_proxy|noproxy|prefer_offline|prefer_online|offline)$/i;
  return Object.fromEntries(Object.entries(process.env).filter(([key]) => !/^npm_/i.test(key) || kept.test(key)));
}

// npm installs a package given by path as a link to the folder, without the
// folder's own dependencies: the headers the build needs are fetched there.
function ensureBuildPackages() {
  if (['node-addon-api', 'node-api-headers'].every(resolvable)) return;
  process.stdout.write('zel: installing the build headers (node-addon-api, node-api-headers)\n');
  const child = spawnSync('npm', ['install', '--omit=dev', '--ignore-scripts', '--no-save', '--no-audit',
    '--no-fund'], { cwd: root, env: ownNpmEnv(), stdio: ['ignore', 2, 2] });
  if (child.status !== 0) throw new Error(`npm install of the build headers failed in ${root}`);
}

if (loads()) process.exit(0);
process.stdout.write(`zel: no prebuilt add-on for ${process.platform}-${process.arch} loads here; building from source\n`);
try {
  ensureBuildPackages();
  buildAddon(path.join(root, 'build'));
} catch (error) {
  process.stderr.write(`zel: ${error.message}\nzel: the source build needs a C++17 compiler and CMake 3.24 or later\n`);
  process.exit(1);
}
if (!loads()) {
  process.stderr.write('zel: the add-on was built but does not load\n');
  process.exit(1);
}
