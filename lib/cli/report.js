'use strict';
// Printing what a run or exec call came to. Failures go to standard error,
// one line each, as PROGRAM:LINE: TEXT (TEXT alone when no program line is
// concerned); the result goes to standard output unless it is the last
// failure already shown, or, for a run that kept them, each statement's
// result in order. The exit status is 1 when anything failed.
const path = require('node:path');
const { addon, print } = require('./common');
const { hintFor } = require('./hints');

// "PROGRAM:LINE: " for a failure on a program line, "" otherwise.
function located(program, line) {
  return program && line ? `${program}:${line}: ` : '';
}

// What an error that ended the call says, with the module it came from.
function describe(error) {
  if (error.name === 'ZelError' && error.modulePath) {
    return `the module ${error.modulePath} threw: ${error.message}`;
  }
  return error.message;
}

function errorFields(error) {
  const { name, message, code = null, modulePath = null, line = null } = error;
  return { name, message, code, modulePath, line };
}

// Starts the call `start()` makes (a promise of one) and prints its outcome;
// resolves to the exit status. `program` names the program file in failure
// lines, or `statement` is the one statement run; `app` is the application
// directory; `json` prints the whole outcome as JSON instead. A module that
// crashes the process is noted on standard error first ("zel run:
// PROGRAM:LINE: the module node_modules/calc/crash.so crashed (SIGSEGV)",
// the module's path relative to the home), and the process dies
// of the signal (exit status 128 + its number).
async function report(start, { command, program = null, statement = null, app, json = false }) {
  addon().reportCrashes(`zel ${command}`, program || '', app);
  let outcome;
  try {
    outcome = await start();
  } catch (error) {
    if (!['TimeoutError', 'AbortError', 'ZelError'].includes(error.name)) throw error;
    if (json) process.stdout.write(JSON.stringify({ error: errorFields(error) }) + '\n');
    else process.stderr.write(`zel ${command}: ${located(program, error.line)}${describe(error)}\n`);
    return 1;
  }
  if (json) {
    process.stdout.write(JSON.stringify(outcome) + '\n');
    return outcome.failed ? 1 : 0;
  }
  printOutcome(outcome, { command, program, statement, app });
  return outcome.failed ? 1 : 0;
}

// Prints an outcome: each failure on standard error, with advice on what to
// do after the first failure it applies to, then the result on standard
// output unless it is the last failure shown or the run stopped.
function printOutcome(outcome, { command = 'repl', program = null, statement = null, app = '.' } = {}) {
  const hinted = new Set();
  for (const { line, message, text } of outcome.diagnostics) {
    process.stderr.write(`${located(program, line)}${text}\n`);
    if (statement !== null && message === 19) {
      process.stderr.write(`  the statement: ${JSON.stringify(statement)}\n`);
    }
    const hint = hintFor(text, message);
    if (hint && !hinted.has(hint)) process.stderr.write(`  hint: ${hint}\n`);
    hinted.add(hint);
  }
  if (outcome.code === 'ZEL_NO_CATALOGUE') {
    const catalogue = path.join(app, 'node_modules', 'zel_linux', 'lang.conf');
    process.stderr.write(`zel ${command}: the message catalogue ${catalogue} cannot be read; ` +
      `"zel init ${app}" lays one out\n`);
  }
  if (outcome.results) {
    printResults(outcome);
    return;
  }
  const last = outcome.diagnostics[outcome.diagnostics.length - 1];
  const shown = last && last.text === outcome.result && last.line === outcome.line;
  if (!outcome.stopped && !shown) print(outcome.result);
}

// Prints each statement's non-empty result, one a line, in the order the
// program ran them, but for the failures already shown and the stop answer
// that ended the run.
function printResults({ results, diagnostics, stopped, line, result }) {
  const failures = new Set(diagnostics.map((d) => `${d.line}:${d.text}`));
  const end = stopped && results.length > 0 && results[results.length - 1].line === line &&
    results[results.length - 1].text === result ? results.length - 1 : results.length;
  for (const r of results.slice(0, end)) {
    if (!failures.has(`${r.line}:${r.text}`)) print(r.text);
  }
}

module.exports = { report, printOutcome };
