'use strict';
// npm start: builds what the sample needs (the add-on and the calculator
// pack's modules; the build is incremental, so edits are picked up), then
// runs the sample program of the calculator pack, compiles it and runs the
// compiled program.
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const build = path.join(root, 'build');
const sample = path.join(build, 'sample');
const zel = path.join(root, 'bin', 'zel');

function step(title, command, args) {
  process.stdout.write(`\n== ${title}\n$ ${[path.relative(root, command) || command, ...args].join(' ')}\n`);
  const child = spawnSync(command, args, { cwd: root, stdio: 'inherit' });
  if (child.status !== 0) {
    process.stderr.write(`failed with status ${child.error ? child.error.message : child.status}\n`);
    process.exit(child.status || 1);
  }
}

function lineCount(file) {
  const text = fs.readFileSync(file, 'latin1');
  return text.split('\n').length - (text.endsWith('\n') ? 1 : 0);
}

if (!fs.existsSync(path.join(build, 'CMakeCache.txt'))) {
  // The tests need GoogleTest; the sample does not ("npm test" adds them).
  step('Configuring the build', 'cmake', ['-S', '.', '-B', 'build', '-G', 'Ninja',
    '-DCMAKE_BUILD_TYPE=Release', '-DBUILD_TESTING=OFF']);
}
step('Building the add-on and the sample pack', 'cmake', ['--build', 'build', '--target', 'zel_addon', 'sample']);

const program = path.join('build', 'sample', 'program.txt');
const compiled = path.join('build', 'sample', 'program.zel');
const app = ['--app', path.join('build', 'sample')];
step('The sample program', zel, ['run', program, ...app]);
step('Compiling it', zel, ['compile', program, '.zel', ...app]);
const firstLines = fs.readFileSync(path.join(root, compiled), 'latin1').split('\n').slice(0, 2);
process.stdout.write(firstLines.map((l) => `  ${l.slice(0, 72)}${l.length > 72 ? '...' : ''}`).join('\n') + '\n');
process.stdout.write(`Each of the ${lineCount(path.join(root, compiled))} lines of ${compiled} is the line of ` +
  `${program} at the same place,\nBase64-encoded and enciphered; the engine deciphers each one as it ` +
  'runs it.\nThis hides the script from casual reading; it is not encryption.\n');
step('The compiled program', zel, ['run', compiled, ...app]);
