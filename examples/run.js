'use strict';
// npm start: builds what the sample needs (the add-on and the calculator
// pack's modules; the build is incremental, so edits are picked up), then
// runs the sample program of the calculator pack through the promise API,
// showing what each statement produced (its `results`; the classic
// Executer returns only the last statement's result), compiles it and runs
// the compiled program the same way.
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

// Runs `file` (relative to the checkout) with the promise API and shows
// each statement's result with its line, then how the run ended.
async function showRun(title, file) {
  process.stdout.write(`\n== ${title}\n> run(app, '${file}', { results: true })\n`);
  const outcome = await require(root).run(sample, path.join(root, file), { results: true });
  for (const { line, text } of outcome.results) process.stdout.write(`  line ${line}: ${text}\n`);
  for (const { line, text } of outcome.diagnostics) process.stderr.write(`  failed, line ${line}: ${text}\n`);
  process.stdout.write(`  failed: ${outcome.failed}, stopped: ${outcome.stopped}\n`);
  if (outcome.failed) process.exit(1);
}

async function main() {
  const program = path.join('build', 'sample', 'program.txt');
  const compiled = path.join('build', 'sample', 'program.zel');
  await showRun('The sample program', program);
  step('Compiling it', zel, ['compile', program, '.zel', '--app', path.join('build', 'sample')]);
  const firstLines = fs.readFileSync(path.join(root, compiled), 'latin1').split('\n').slice(0, 2);
  process.stdout.write(firstLines.map((l) => `  ${l.slice(0, 72)}${l.length > 72 ? '...' : ''}`).join('\n') + '\n');
  process.stdout.write(`Each of the ${lineCount(path.join(root, compiled))} lines of ${compiled} is the line of ` +
    `${program} at the same place,\nBase64-encoded and enciphered; the engine deciphers each one as it ` +
    'runs it.\nThis hides the script from casual reading; it is not encryption.\n');
  await showRun('The compiled program', compiled);
}

main().catch((error) => {
  process.stderr.write(`${error.stack}\n`);
  process.exit(1);
});
