'use strict';
// Running a pack's code for "zel check" and "zel add-pack": loading a module
// runs its static constructors, so it happens in a child process that,
// when zel runs as root, runs as the system's unprivileged user instead,
// in a process group of its own that is killed as a whole at the time
// limit (or once the child has exited), so nothing a module starts
// outlives the check.
const fs = require('node:fs');
const { spawn } = require('node:child_process');

// The fields of the entry called `name` in the colon-separated database
// `file` (/etc/passwd, /etc/group), or null.
function entryOf(file, name) {
  let text = '';
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch {
    return null;
  }
  const line = text.split('\n').find((l) => l.split(':')[0] === name);
  return line ? line.split(':') : null;
}

// { uid, gid, user } of the unprivileged user the child runs as: the user
// "nobody", with the group "nogroup" (or "nobody", or the user's own).
// Null when the system has no such user.
function unprivilegedUser() {
  const user = entryOf('/etc/passwd', 'nobody');
  if (!user) return null;
  const group = entryOf('/etc/group', 'nogroup') || entryOf('/etc/group', 'nobody');
  return { uid: Number(user[2]), gid: Number(group ? group[2] : user[3]), user: 'nobody' };
}

// Who the child runs as: the caller unless the caller is root. Throws when
// zel runs as root on a system without an unprivileged user.
function childIdentity() {
  if (typeof process.getuid !== 'function' || process.getuid() !== 0) return {};
  const user = unprivilegedUser();
  if (!user) {
    throw new Error('running as root, and the system has no user "nobody" to load pack code as; ' +
      'run zel check as another user');
  }
  return user;
}

// Ends every process of the group `pgid`, if any is left.
function killGroup(pgid) {
  try {
    process.kill(-pgid, 'SIGKILL');
  } catch {
    // The group is already gone.
  }
}

// Runs the program `file` with `args` confined as above, in the directory
// `cwd`, for at most `limitMs` ms. Resolves to { status, signal, stdout,
// timedOut, error }; its standard error goes to this process's. `identity`
// is childIdentity()'s. The directory is entered, and the program opened,
// before the child becomes the unprivileged user: neither the program's nor
// the directory's parent directories need be open to that user (a home
// below /root, say), only the files themselves.
function runConfined(file, args, { limitMs, identity, cwd }) {
  return new Promise((resolve) => {
    const { uid, gid } = identity;
    const program = fs.openSync(file, 'r');
    let child;
    try {
      child = spawn('/proc/self/fd/3', args,
        { cwd, detached: true, uid, gid, stdio: ['ignore', 'pipe', 'inherit', program] });
    } finally {
      fs.closeSync(program);
    }
    let stdout = '';
    let timedOut = false;
    let ended = null;
    child.stdout.setEncoding('utf8');
    child.stdout.on('data', (chunk) => { stdout += chunk; });
    const timer = setTimeout(() => {
      timedOut = true;
      killGroup(child.pid);
    }, limitMs);
    child.on('error', (error) => {
      clearTimeout(timer);
      resolve({ status: null, signal: null, stdout, timedOut, error });
    });
    child.on('exit', (status, signal) => {
      clearTimeout(timer);
      ended = { status, signal };
      // What it started may hold its output open: the group goes with it.
      killGroup(child.pid);
    });
    child.on('close', () => {
      if (ended) resolve({ ...ended, stdout, timedOut, error: null });
    });
  });
}

module.exports = { childIdentity, runConfined };
