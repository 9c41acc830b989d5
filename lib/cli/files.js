'use strict';
// Installing files into an application home: each file appears whole or not
// at all, and a different file already there is replaced only when asked.
const fs = require('node:fs');
const path = require('node:path');

// Copies `from` to `to` through a temporary file in the same directory,
// renamed into place, keeping the file's mode.
function copyWhole(from, to) {
  fs.mkdirSync(path.dirname(to), { recursive: true });
  const temporary = path.join(path.dirname(to), `.${path.basename(to)}.${process.pid}.tmp`);
  try {
    fs.copyFileSync(from, temporary);
    fs.chmodSync(temporary, fs.statSync(from).mode & 0o777);
    fs.renameSync(temporary, to);
  } catch (error) {
    fs.rmSync(temporary, { force: true });
    throw error;
  }
}

function sameContent(a, b) {
  return fs.readFileSync(a).equals(fs.readFileSync(b));
}

// Installs `copies` ([{ from, to }]). Refuses, copying nothing, when a target
// exists with other content and `force` is false. Returns { installed,
// unchanged, conflicts } (file lists); conflicts is empty when it installed.
function installFiles(copies, force) {
  const conflicts = [];
  const pending = [];
  const unchanged = [];
  for (const copy of copies) {
    if (!fs.existsSync(copy.to)) pending.push(copy);
    else if (sameContent(copy.from, copy.to)) unchanged.push(copy.to);
    else if (force) pending.push(copy);
    else conflicts.push(copy.to);
  }
  if (conflicts.length) return { installed: [], unchanged, conflicts };
  for (const { from, to } of pending) copyWhole(from, to);
  return { installed: pending.map((c) => c.to), unchanged, conflicts };
}

module.exports = { installFiles };
