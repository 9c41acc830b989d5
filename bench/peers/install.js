'use strict';
// Installs the peers benchmark's own dependencies (bench/peers/package.json
// and its lock) with `npm ci`, apart from the project's: the project's
// `npm ci` never installs them. Skipped when the installed lock is this one.
// isolated-vm is a native add-on built from source here: its headers come
// from this Node installation (include/node) and nothing is fetched but
// the npm registry's packages (no prebuilt binaries).
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const dir = __dirname;
const lockFile = path.join(dir, 'package-lock.json');
const stampFile = path.join(dir, 'node_modules', '.zel-installed-lock.json');
const nodeDir = path.resolve(path.dirname(process.execPath), '..');

function installed() {
  try {
    return fs.readFileSync(stampFile, 'utf8') === fs.readFileSync(lockFile, 'utf8');
  } catch {
    return false;
  }
}

function install() {
  if (!fs.existsSync(path.join(nodeDir, 'include', 'node', 'node.h'))) {
    throw new Error(`no Node headers in ${nodeDir}/include/node: isolated-vm cannot be built`);
  }
  const child = spawnSync('npm', ['--prefix', dir, 'ci', '--no-audit', '--no-fund'], {
    stdio: 'inherit',
    // prebuild-install (isolated-vm's install step) would otherwise try to
    // download a prebuilt binary first.
    env: { ...process.env, npm_config_nodedir: nodeDir, 'prebuild-install_buildFromSource': 'true' },
  });
  if (child.status !== 0) throw new Error(`npm ci in ${dir} ended with status ${child.status}`);
  fs.copyFileSync(lockFile, stampFile);
}

if (!installed()) install();
