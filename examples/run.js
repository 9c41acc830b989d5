'use strict';
// npm start: builds what is missing, then runs the sample program of the
// calculator pack, compiles it and runs the compiled program.
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const sample = path.join(root, 'build', 'sample');
const zel = path.join(root, 'bin', 'zel');

function step(title, command, args) {
  process.stdout.write(`\n== ${title}\n$ ${[path.relative(root, command) || command, ...args].join(' ')}\n`);
  const child = spawnSync(command, args, { cwd: root, stdio: 'inherit' });
  if (child.status !== 0) {
    process.stderr.write(`failed with status ${child.status}\n`);
    process.exit(child.status || 1);
  }
}

if (!fs.existsSync(path.join(root, 'build', 'Release', 'zel.node')) ||
    !fs.existsSync(path.join(sample, 'node_modules', 'korrin_linux', 'forms.so'))) {
  step('Building', 'npm', ['run', 'build', '--silent']);
}

const program = path.join('build', 'sample', 'program.txt');
const compiled = path.join('build', 'sample', 'program.zel');
const app = ['--app', path.join('build', 'sample')];
step('The sample program', zel, ['run', program, ...app]);
step('Compiling it', zel, ['compile', program, '.zel', ...app]);
const firstLines = fs.readFileSync(path.join(root, compiled), 'latin1').split('\n').slice(0, 2);
process.stdout.write(firstLines.map((l) => `  ${l.slice(0, 72)}${l.length > 72 ? '...' : ''}`).join('\n') + '\n');
step('The compiled program', zel, ['run', compiled, ...app]);
