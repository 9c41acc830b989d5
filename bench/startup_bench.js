'use strict';
// Start-up benchmark: what `require('zel')` plus one Commandes call adds to
// a bare `node` start. Starts `node -e 0` and `node -e <script>` in turn
// many times (interleaved, so that the machine's load falls on both alike)
// and prints the median wall time of each, their difference, and the
// median time the script itself took. `node:vm` (a context and one script)
// is shown for reference. Uses the sample application the build puts in
// build/sample.
//
// Usage: startup_bench.js [STARTS] [ZEL_DIR...]   (default: 60 starts of
// this checkout; other copies of the package, such as an older one, are
// measured in the same turns, each against its own build's sample).
// bench/peers/peers_bench.js uses compareStarts for the peers' start-up.
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const root = path.join(__dirname, '..');
const starts = Number(process.argv[2]) || 60;
const zelDirs = process.argv.length > 3 ? process.argv.slice(3) : [root];

const scripts = { 'node -e 0': '0' };
for (const dir of zelDirs) {
  const name = zelDirs.length > 1 ? `zel (${path.basename(dir)})` : 'zel: require + Commandes';
  scripts[name] = zelStartScript(dir);
}
scripts['node:vm: context + script'] =
  "require('node:vm').runInNewContext('let width = 7; `width = ${width}`')";

// Milliseconds from spawning `node -e script` to its end, and those the
// script itself took (measured inside, so free of the process's own start
// and exit).
function startMs(script) {
  // The time is taken before process.stdout, which loads modules of its
  // own, is first touched.
  const timed = `const t0 = performance.now(); ${script}; const ms = performance.now() - t0;` +
    'process.stdout.write(String(ms))';
  const start = process.hrtime.bigint();
  const child = spawnSync(process.execPath, ['-e', timed], { encoding: 'utf8' });
  const wall = Number(process.hrtime.bigint() - start) / 1e6;
  if (child.status !== 0) throw new Error(`node -e ${script} ended with status ${child.status}`);
  return { wall, inside: Number(child.stdout) };
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

// Starts each of `scripts` (name: script) `starts` times, interleaved, and
// prints the median of each as above. The first one is the bare start.
function compareStarts(scripts, starts) {
  const names = Object.keys(scripts);
  const times = Object.fromEntries(names.map((name) => [name, []]));
  for (const name of names) startMs(scripts[name]);  // warm the page cache
  for (let i = 0; i < starts; i++) {
    for (const name of names) times[name].push(startMs(scripts[name]));
  }
  const bare = median(times[names[0]].map((t) => t.wall));
  console.log(`start-up, median of ${starts} process starts:`);
  for (const name of names) {
    const ms = median(times[name].map((t) => t.wall));
    const inside = median(times[name].map((t) => t.inside));
    const added = name === names[0] ? '' :
      `  (+${(ms - bare).toFixed(1)} ms; ${inside.toFixed(1)} ms inside the script)`;
    console.log(`  ${name.padEnd(28)} ${ms.toFixed(1)} ms${added}`);
  }
}

// The script that requires the zel package at `dir` and makes one
// Commandes call against its own build's sample.
function zelStartScript(dir) {
  const sample = path.join(path.resolve(dir), 'build', 'sample');
  return `require(${JSON.stringify(path.resolve(dir))}).Commandes(${JSON.stringify(sample)}, ` +
    `'set width to 7;', ${JSON.stringify(path.join(sample, 'node_modules', 'calculator.zel'))})`;
}

module.exports = { compareStarts, zelStartScript };

if (require.main === module) compareStarts(scripts, starts);
