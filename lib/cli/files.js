'use strict';
// Installing files into an application home: each file appears whole or not
// at all, and a different file already there is replaced only when asked.
// A link is installed as the same link, never followed.
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');

// A fresh name beside `to` for the file being written: unpredictable, so
// that nothing can be laid in wait at it.
function temporaryPath(to) {
  return path.join(path.dirname(to), `.${path.basename(to)}.${crypto.randomBytes(12).toString('hex')}.tmp`);
}

// Creates `temporary` as a copy of the file or link `from`. The name must
// not exist: it is created exclusively (O_EXCL), so a link found there is
// neither followed nor replaced, and the copy fails with EEXIST.
function writeTemporary(from, temporary) {
  const info = fs.lstatSync(from);
  if (info.isSymbolicLink()) {
    fs.symlinkSync(fs.readlinkSync(from), temporary);
    return;
  }
  const mode = info.mode & 0o777;
  const fd = fs.openSync(temporary, 'wx', mode);
  try {
    fs.writeFileSync(fd, fs.readFileSync(from));
    fs.fchmodSync(fd, mode);  // the umask left out of the mode
  } finally {
    fs.closeSync(fd);
  }
}

// Copies the file or link `from` to `to` through the new file `temporary` in
// the same directory, renamed into place, keeping the file's mode.
function copyWhole(from, to, temporary = temporaryPath(to)) {
  fs.mkdirSync(path.dirname(to), { recursive: true });
  let created = false;
  try {
    writeTemporary(from, temporary);
    created = true;
    fs.renameSync(temporary, to);
  } catch (error) {
    // Only what this copy created is removed, never what was found there.
    if (created || error.code !== 'EEXIST') fs.rmSync(temporary, { force: true });
    throw error;
  }
}

// True when `a` and `b` are the same link or files of the same content.
function sameEntry(a, b) {
  const [infoA, infoB] = [fs.lstatSync(a), fs.lstatSync(b)];
  if (infoA.isSymbolicLink() || infoB.isSymbolicLink()) {
    return infoA.isSymbolicLink() && infoB.isSymbolicLink() && fs.readlinkSync(a) === fs.readlinkSync(b);
  }
  return infoB.isFile() && fs.readFileSync(a).equals(fs.readFileSync(b));
}

// Installs `copies` ([{ from, to }]). Refuses, copying nothing, when a target
// exists with other content and `force` is false. Returns { installed,
// unchanged, conflicts } (file lists); conflicts is empty when it installed.
function installFiles(copies, force) {
  const conflicts = [];
  const pending = [];
  const unchanged = [];
  for (const copy of copies) {
    if (!fs.lstatSync(copy.to, { throwIfNoEntry: false })) pending.push(copy);
    else if (sameEntry(copy.from, copy.to)) unchanged.push(copy.to);
    else if (force) pending.push(copy);
    else conflicts.push(copy.to);
  }
  if (conflicts.length) return { installed: [], unchanged, conflicts };
  for (const { from, to } of pending) copyWhole(from, to);
  return { installed: pending.map((c) => c.to), unchanged, conflicts };
}

module.exports = { installFiles, copyWhole };
