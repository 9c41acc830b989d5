'use strict';
// What travels through the queue: the check of a job's data on the worker
// (a job is untrusted input), and the errors a worker hands back to the
// client as the failed job's reason.
const path = require('node:path');
const { checkMilliseconds, errorFromFields } = require('../errors');
const { ZelError } = require('../zel_error');

const OPS = ['run', 'exec', 'compile'];
// The text fields each kind of job carries, beside op, app and options.
const FIELDS = { run: ['text'], exec: ['statement', 'syntax'], compile: ['source'] };

function typeName(value) {
  return value === null ? 'null' : Array.isArray(value) ? 'array' : typeof value;
}

function checkString(value, name) {
  if (typeof value !== 'string') {
    throw new TypeError(`The "${name}" argument must be a string; received ${typeName(value)}`);
  }
}

// The directory of the application a job names; a compilation may name
// none (it then words its message with the shipped catalogue).
function appDirOf(app, apps, optional) {
  if (app === undefined && optional) return null;
  checkString(app, 'app');
  if (!Object.hasOwn(apps, app)) throw new TypeError(`unknown application "${app}"`);
  return apps[app];
}

// The syntax file a job names: "*.*" or a path below the application's
// node_modules, which is all a job may reach.
function syntaxPathOf(appDir, syntax) {
  if (syntax === '*.*') return syntax;
  const modules = path.join(appDir, 'node_modules');
  const full = path.resolve(modules, syntax);
  const inside = path.relative(modules, full);
  if (syntax.includes('\0') || path.isAbsolute(syntax) || inside === '' ||
      inside.startsWith('..') || path.isAbsolute(inside)) {
    throw new TypeError(`"syntax" must name a file below the application's node_modules: ${syntax}`);
  }
  return full;
}

// The options a job may give the call: a time limit, and whether the
// outcome lists each statement's result; nothing else.
function optionsOf(options) {
  if (options === undefined) return {};
  if (options === null || typeof options !== 'object' || Array.isArray(options)) {
    throw new TypeError('The "options" field must be an object');
  }
  const checked = {};
  if (options.timeout !== undefined) {
    checkMilliseconds(options.timeout, 'options.timeout');
    checked.timeout = options.timeout;
  }
  if (options.results !== undefined) {
    if (typeof options.results !== 'boolean') throw new TypeError('options.results must be a boolean');
    checked.results = options.results;
  }
  return checked;
}

// A job's data checked: { op, appDir, fields, options }, where fields holds
// the op's text fields (and the exec's syntax as a full path). Throws a
// TypeError that says what is wrong.
function checkJob(data, apps) {
  if (data === null || typeof data !== 'object' || Array.isArray(data)) {
    throw new TypeError(`a job's data must be an object; received ${typeName(data)}`);
  }
  const { op } = data;
  if (!OPS.includes(op)) {
    throw new TypeError(`"op" must be "run", "exec" or "compile"; received ${JSON.stringify(op) || typeName(op)}`);
  }
  const appDir = appDirOf(data.app, apps, op === 'compile');
  const fields = {};
  for (const name of FIELDS[op]) {
    checkString(data[name], name);
    fields[name] = data[name];
  }
  if (op === 'exec') fields.syntax = syntaxPathOf(appDir, fields.syntax);
  return { op, appDir, fields, options: optionsOf(data.options) };
}

// The reason a worker gives for a failed job: the error's fields as JSON, so
// that the client rejects with the error the promise API would have given.
function reasonOf(error) {
  const { name, message, code, modulePath, line } = error;
  return JSON.stringify({ name, message, code, modulePath, line });
}

// The error a client rejects with for a failed job's reason. A reason that
// is not a worker's (BullMQ's own, such as a job that stalled too often:
// its workers died) becomes a ZelError.
function errorOf(reason) {
  let fields = null;
  try {
    fields = JSON.parse(reason);
  } catch {
    fields = null;
  }
  if (fields === null || typeof fields !== 'object' || typeof fields.name !== 'string') {
    const died = /stalled/.test(reason);
    return new ZelError(`zel queue: ${reason}`, { code: died ? 'ZEL_CHILD_DIED' : 'ZEL_JOB_FAILED' });
  }
  return errorFromFields(fields);
}

module.exports = { checkJob, reasonOf, errorOf };
