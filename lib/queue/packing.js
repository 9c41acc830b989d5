'use strict';
// Long texts travel deflated. Moving a 32 KB program took Redis, whose
// scripts copy every byte of a job, about a third of its time per job;
// deflated it is a fifth of the size. A job that
// carries deflated texts says so with `format: 2` and holds them, base64,
// under `packed`; a worker that reads only format 1 fails such a job for
// want of its text instead of running something else, and this worker fails
// a job of a format it does not know, saying so.
const zlib = require('node:zlib');
const { promisify } = require('node:util');

// Texts up to a megabyte are deflated and inflated at once, which costs
// less CPU than handing them to the thread pool; longer ones go there, so as
// not to hold the event loop (a worker's renews its job locks).
const AT_ONCE = 1 << 20;
const deflateRaw = promisify(zlib.deflateRaw);
const inflateRaw = promisify(zlib.inflateRaw);
const deflated = (bytes, options) =>
  (bytes.length <= AT_ONCE ? zlib.deflateRawSync(bytes, options) : deflateRaw(bytes, options));
const inflated = (bytes, options) =>
  (bytes.length <= AT_ONCE / 4 ? zlib.inflateRawSync(bytes, options) : inflateRaw(bytes, options));

const FORMAT = 2;
// Shorter texts travel as they are: deflating them saves less than it costs.
const PACK_FROM = 4096;
// The most a packed text may inflate to: a job is untrusted, and a few
// megabytes of it could otherwise inflate to more memory than the worker has.
// A longer text travels as it is.
const UNPACKED_MAX = 64 * 1024 * 1024;
// How each text field's characters become bytes: program texts are UTF-8,
// a compilation's source is a byte string.
const ENCODINGS = { text: 'utf8', source: 'latin1' };
// The fastest level; the larger hash table costs 256 KB while it runs and
// saves about a quarter of the time on program texts.
const DEFLATE = { level: 1, memLevel: 9 };

// `data` with its long text fields deflated; `data` itself when none is.
async function pack(data) {
  const packed = {};
  for (const [name, encoding] of Object.entries(ENCODINGS)) {
    const value = data[name];
    if (typeof value !== 'string' || value.length < PACK_FROM || value.length > UNPACKED_MAX / 3) continue;
    const bytes = await deflated(Buffer.from(value, encoding), DEFLATE);
    if (bytes.length * 4 / 3 < value.length) packed[name] = bytes.toString('base64');
  }
  const names = Object.keys(packed);
  if (names.length === 0) return data;
  const rest = Object.fromEntries(Object.entries(data).filter(([name]) => !names.includes(name)));
  return { ...rest, format: FORMAT, packed };
}

// A job's data as the worker checks it: its packed texts inflated back into
// their fields. Throws a TypeError for a format this worker does not read,
// or a packed text that is not one.
async function unpack(data) {
  if (data === null || typeof data !== 'object' || data.format === undefined) return data;
  if (data.format !== FORMAT) {
    const format = JSON.stringify(data.format);
    throw new TypeError(`job format ${format} is not one this worker reads (1 or ${FORMAT}); update the worker`);
  }
  const { packed, format, ...rest } = data;
  if (packed === null || typeof packed !== 'object' || Array.isArray(packed)) {
    throw new TypeError('a job of format 2 holds its texts in a "packed" object');
  }
  for (const [name, encoding] of Object.entries(ENCODINGS)) {
    if (packed[name] === undefined) continue;
    if (typeof packed[name] !== 'string' || rest[name] !== undefined) {
      throw new TypeError(`"packed.${name}" must be a string, and "${name}" absent`);
    }
    try {
      const bytes = await inflated(Buffer.from(packed[name], 'base64'), { maxOutputLength: UNPACKED_MAX });
      rest[name] = bytes.toString(encoding);
    } catch (error) {
      throw new TypeError(`"packed.${name}" is not a deflated text of at most ${UNPACKED_MAX} bytes: ${error.message}`);
    }
  }
  return rest;
}

module.exports = { pack, unpack, PACK_FROM };
