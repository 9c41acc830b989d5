'use strict';
// Loading JavaScript modules for the engine and wording their failures. The
// engine has found and confined the file; it calls load() when the file is
// new to this thread or was edited since, and describe() when a module
// failed, for the text of the failed statement.
const fs = require('node:fs');

// The file's exports, read afresh: an edited module is used as edited.
// The cache knows a module by its real path (links resolved).
function load(file) {
  const resolved = require.resolve(file);
  delete require.cache[resolved];
  return require(resolved);
}

// The line of `file` the error was raised at, from its stack (which names
// the file by its real path), or null.
function lineIn(error, file) {
  const stack = error && typeof error.stack === 'string' ? error.stack : '';
  let real = file;
  try {
    real = fs.realpathSync(file);
  } catch {
    // Gone since: its own name is all there is.
  }
  for (const name of new Set([real, file])) {
    const escaped = name.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
    const found = new RegExp(`${escaped}:(\\d+)`).exec(stack);
    if (found) return Number(found[1]);
  }
  return null;
}

function messageOf(error) {
  if (error instanceof Error) return `${error.name}: ${error.message}`;
  return `the value ${String(error)}`;
}

const ENTRY = { execute: 'execute(input, call)', check: 'check(syntaxLine, statement, call)' };

// The failure text of module `file`: what = 'load' (require threw), 'threw'
// (an entry threw), 'answer' (an entry returned `value`, not a string), or
// the name of a missing entry.
function describe(value, file, what) {
  const at = (error) => {
    const line = lineIn(error, file);
    return line === null ? '' : ` (line ${line})`;
  };
  const head = `JavaScript module ${file}`;
  if (what === 'load') {
    return `${head} does not load${at(value)}: ${messageOf(value)}; fix it, "zel check" shows the same`;
  }
  if (what === 'threw') return `${head} threw${at(value)}: ${messageOf(value)}`;
  if (what === 'answer') {
    const thenable = value !== null && (typeof value === 'object' || typeof value === 'function') &&
      typeof value.then === 'function';
    if (thenable) {
      return `${head} returned a promise: modules run synchronously, so return the text itself ` +
        '(no async function)';
    }
    return `${head} returned ${value === null ? 'null' : `a ${typeof value}`}, not a string: ` +
      'return the text of the result';
  }
  return `${head} exports no ${what} function: add "exports.${what} = function ${ENTRY[what] || what} { ... }"`;
}

module.exports = { load, describe };
