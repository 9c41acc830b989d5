'use strict';
// The argument checks and errors the promise API (lib/promise.js) and the
// pool (lib/pool.js) share, so that a call is judged the same way by both.
const { isUint8Array } = require('node:util').types;

const { ZelError } = require('./zel_error');

// The longest delay a Node.js timer honours; a longer one fires at once.
const MAX_DELAY = 2 ** 31 - 1;

// The string arguments of each call, and the string options it takes. A
// run's program is checked by checkProgram instead.
const SIGNATURES = {
  run: { names: ['appDir'], extra: [] },
  runText: { names: ['appDir'], extra: [] },
  exec: { names: ['appDir', 'statement', 'syntaxPath'], extra: [] },
  execInSession: { names: ['appDir', 'statement', 'syntaxPath'], extra: [] },
  compile: { names: ['sourcePath', 'outputSuffix'], extra: ['app'] },
};

// options.results that keeps every statement's result and lists every
// failure, not the first 100 only: for the command line, which prints them
// all. Unreachable from outside the package.
const EVERY_RESULT = Symbol('zel.everyResult');

function abortError(signal) {
  return new DOMException('The zel call was aborted', 'AbortError', { cause: signal.reason });
}

function timeoutError(ms) {
  return new DOMException(`The zel call timed out after ${ms} ms`, 'TimeoutError');
}

// Rebuilds an error another process sent back as { name, message, ... }
// (a pool child, a queue worker): a ZelError with its fields, an abort or a
// time limit as the DOMException a call in process rejects with, a
// TypeError as a TypeError, anything else as an Error of that name.
function errorFromFields(fields) {
  if (fields.name === 'ZelError') return new ZelError(fields.message, fields);
  if (fields.name === 'AbortError' || fields.name === 'TimeoutError') {
    return new DOMException(fields.message, fields.name);
  }
  const Type = fields.name === 'TypeError' ? TypeError : Error;
  const error = new Type(fields.message);
  if (Type === Error) error.name = fields.name;
  return error;
}

function checkString(value, name) {
  if (typeof value !== 'string') {
    throw new TypeError(`The "${name}" argument must be a string; received ${typeof value}`);
  }
}

// A delay a timer can wait: a finite number from 0 to MAX_DELAY.
function checkMilliseconds(value, name) {
  if (!(Number.isFinite(value) && value >= 0 && value <= MAX_DELAY)) {
    throw new TypeError(`${name} must be a number of milliseconds from 0 to ${MAX_DELAY}`);
  }
}

// A run's program: a path (a string) or { text } (the program itself, a
// string or, with `bytes`, its bytes as a Uint8Array, run byte for byte as
// a file holding them). Returns a copy holding only what a run reads;
// throws a TypeError otherwise.
function checkProgram(program, { bytes = false } = {}) {
  if (typeof program === 'string') return program;
  const text = program !== null && typeof program === 'object' ? program.text : undefined;
  if (typeof text === 'string' || (bytes && isUint8Array(text))) return { text };
  throw new TypeError(`The "program" argument must be a path (a string) or { text: string${
    bytes ? ' | Uint8Array' : ''} }`);
}

// Throws a TypeError for a bad argument or option of call `kind`. Returns a
// new object holding only the options that call reads (signal, timeout and
// its string options), so that nothing else a caller passes goes further.
function checkCall(kind, args, options) {
  const { names, extra } = SIGNATURES[kind];
  names.forEach((name, i) => checkString(args[i], name));
  if (options === undefined) return {};
  if (options === null || typeof options !== 'object') {
    throw new TypeError('The "options" argument must be an object');
  }
  const known = {};
  const { signal, timeout } = options;
  if (signal !== undefined) {
    if (!(signal instanceof AbortSignal)) throw new TypeError('options.signal must be an AbortSignal');
    known.signal = signal;
  }
  if (timeout !== undefined) {
    checkMilliseconds(timeout, 'options.timeout');
    known.timeout = timeout;
  }
  if (options.results !== undefined) {
    if (typeof options.results !== 'boolean' && options.results !== EVERY_RESULT) {
      throw new TypeError('options.results must be a boolean');
    }
    known.results = options.results;
  }
  for (const name of extra) {
    if (options[name] === undefined) continue;
    checkString(options[name], `options.${name}`);
    known[name] = options[name];
  }
  return known;
}

module.exports = {
  MAX_DELAY, EVERY_RESULT, abortError, timeoutError, errorFromFields, checkMilliseconds,
  checkProgram, checkCall,
};
