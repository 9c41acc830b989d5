'use strict';
// Builds the add-on, the probe and the sample calculator pack from source,
// alone: no tests or benchmarks, so a C++17 compiler, CMake and the npm
// packages are enough.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');

function hasProgram(name) {
  return spawnSync(name, ['--version'], { stdio: 'ignore' }).status === 0;
}

function cmake(args) {
  // Build output goes to standard error: "npm pack --json" owns standard output.
  const child = spawnSync('cmake', args, { cwd: root, stdio: ['ignore', 2, 2] });
  if (child.error) throw new Error(`cannot run cmake: ${child.error.message}`);
  if (child.status !== 0) throw new Error(`cmake ${args[0]} failed with status ${child.status}`);
}

// Configures `buildDir` (once) and builds zel.node and zel-probe into
// `buildDir`/Release and the calculator pack into `buildDir`/packs/calculator.
// Returns `buildDir`. Throws when CMake is missing or the build fails.
function buildAddon(buildDir) {
  if (!fs.existsSync(path.join(buildDir, 'CMakeCache.txt'))) {
    const generator = hasProgram('ninja') ? ['-G', 'Ninja'] : [];
    cmake(['-S', root, '-B', buildDir, ...generator, '-DCMAKE_BUILD_TYPE=Release',
      '-DZEL_ADDON_ONLY=ON', `-DZEL_NODE_EXECUTABLE=${process.execPath}`]);
  }
  cmake(['--build', buildDir, '--target', 'zel_addon', 'zel_probe', 'calculator_pack',
    '--parallel', String(os.cpus().length)]);
  return buildDir;
}

module.exports = { root, buildAddon };
