'use strict';
// Loads one JavaScript module for "zel check" and "zel add-pack", in the
// confined child (confined.js), and calls its entry once with a sample:
//   node script_probe.js KIND FILE SAMPLE
// KIND is "module" (execute(input, call)) or "syntax-module" (check(line,
// statement, call)); SAMPLE is the form's pattern. Prints "ok", or "LINE\t"
// and what is wrong (LINE empty when unknown); exits 1 for a problem.
const fs = require('node:fs');
const Module = require('node:module');
const path = require('node:path');
const { describe } = require('../script_modules');

const [kind, file, sample = 'sample'] = process.argv.slice(2);
const entry = kind === 'syntax-module' ? 'check' : 'execute';
const full = path.resolve(file);

// The line `describe` names, taken out of its text for the problem line.
function report(text) {
  const found = / \(line (\d+)\)/.exec(text);
  const what = text.replace(/^JavaScript module \S+ /, '').replace(/ \(line \d+\)/, '')
    .replace('; fix it, "zel check" shows the same', '; fix the file there');
  fs.writeSync(1, `${found ? found[1] : ''}\t${what}\n`);  // written before the exit
  process.exit(1);
}

// Read through the directory the child was started in, which it may enter
// though it cannot pass the directories above (a private home, as root).
function load() {
  const module = new Module(full, null);
  module.filename = full;
  module.paths = Module._nodeModulePaths(path.dirname(full));
  module._compile(fs.readFileSync(path.basename(full), 'utf8'), full);
  return module.exports;
}

let exported;
try {
  exported = load();
} catch (error) {
  report(describe(error, full, 'load'));
}
if (!exported || typeof exported[entry] !== 'function') report(describe(undefined, full, entry));
let answer;
try {
  answer = entry === 'check' ? exported.check(sample, sample, {}) : exported.execute(`;${sample}`, {});
} catch (error) {
  report(describe(error, full, 'threw'));
}
if (typeof answer !== 'string') report(describe(answer, full, 'answer'));
fs.writeSync(1, 'ok\n');
