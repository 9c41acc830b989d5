'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { UsageError, parse, appDir } = require('./common');
const { installFiles } = require('./files');
const { loadLimitOption, loadSettings, packProblems } = require('./inspect');

const usage = `usage: zel add-pack PACK [--app DIR] [--force] [--load-limit MS]

Installs a built pack into the application home DIR (see "zel init"). PACK
is a directory laid out by zel_add_pack (cmake/ZelModule.cmake): NAME.zel,
the pack's modules in NAME/, and its syntax modules in korrin_linux/. They
go to DIR/node_modules/NAME.zel, DIR/node_modules/NAME/ and
DIR/node_modules/korrin_linux/.

Only those entries are installed: a pack named "", "." or "..", a pack
directory that is a link, and a link inside the pack that leads out of its
own directory are refused.

The pack is checked first, as "zel check" would: its forms, and each of its
modules loaded in a process of its own, which runs the module's code (as
the user nobody when zel runs as root; see "zel check --help", which also
tells what --load-limit does). Nothing is installed when a problem is
found, or when a file there differs from the pack's, unless --force is
given.`;

// Why the link `file` in a pack cannot be installed, or null. A link is
// copied as a link when its target is relative and has no ".." part: it
// then only ever leads further down its own directory, inside the pack.
function linkProblem(file) {
  const target = fs.readlinkSync(file);
  if (!path.isAbsolute(target) && !target.split('/').includes('..')) return null;
  return `${file} is a link to ${target}, outside its directory; a pack's links may only ` +
    'lead down their own directory (replace it with the file)';
}

// Every file and link below `dir`, as paths relative to `base`; links are
// kept as links, never followed. Throws a UsageError for anything else (a
// FIFO, a device) and for a link that leads outside.
function entriesBelow(dir, base) {
  return fs.readdirSync(dir, { withFileTypes: true }).flatMap((entry) => {
    const file = path.join(dir, entry.name);
    if (entry.isDirectory()) return entriesBelow(file, base);
    const problem = entry.isSymbolicLink() ? linkProblem(file)
      : !entry.isFile() && `${file} is neither a file, a directory nor a link`;
    if (problem) throw new UsageError(problem);
    return [path.relative(base, file)];
  });
}

// The entries of the pack directory `dir` below `name`, which must be a real
// directory when it is there (a link to one is refused, not followed).
function treeOf(pack, name) {
  const dir = path.join(pack, name);
  const info = fs.lstatSync(dir, { throwIfNoEntry: false });
  if (!info) return [];
  if (!info.isDirectory()) throw new UsageError(`${dir} is not a directory (a link to one is not followed)`);
  return entriesBelow(dir, pack);
}

// The files of the built pack in `pack`, relative to it: NAME.zel, and what
// is below NAME/ and korrin_linux/, nothing else. Throws a UsageError when
// `pack` is not a pack directory or holds what cannot be installed.
function packFiles(pack) {
  if (!fs.existsSync(pack) || !fs.statSync(pack).isDirectory()) {
    throw new UsageError(`${pack} is not a directory`);
  }
  const syntaxFiles = fs.readdirSync(pack).filter((name) => name.endsWith('.zel'));
  if (syntaxFiles.length !== 1) {
    throw new UsageError(`${pack} should hold one NAME.zel file, not ${syntaxFiles.length}`);
  }
  const name = syntaxFiles[0].slice(0, -'.zel'.length);
  if (['', '.', '..'].includes(name)) {
    throw new UsageError(`${path.join(pack, syntaxFiles[0])}: "${name}" cannot name a pack; rename the file NAME.zel`);
  }
  if (!fs.lstatSync(path.join(pack, syntaxFiles[0])).isFile()) {
    throw new UsageError(`${path.join(pack, syntaxFiles[0])} is not a regular file (a link is not followed)`);
  }
  return [syntaxFiles[0], ...treeOf(pack, name), ...treeOf(pack, 'korrin_linux')];
}

async function addPack(args) {
  const options = { app: { type: 'string' }, force: { type: 'boolean' }, ...loadLimitOption };
  const { values, positionals } = parse(args, options, 1);
  if (positionals.length !== 1) throw new UsageError('add-pack needs a PACK');
  const pack = path.resolve(positionals[0]);
  const modules = path.join(appDir(values), 'node_modules');
  if (!fs.existsSync(modules)) {
    process.stderr.write(`zel add-pack: ${modules} does not exist; run "zel init" first\n`);
    return 1;
  }
  const files = packFiles(pack);
  const problems = await packProblems(pack, files[0], loadSettings(values));
  for (const problem of problems) process.stderr.write(`${problem}\n`);
  if (problems.length && !values.force) {
    process.stderr.write(`zel add-pack: ${problems.length} problem(s) in ${pack}; nothing installed ` +
      '(--force installs it anyway)\n');
    return 1;
  }
  const copies = files.map((file) => ({ from: path.join(pack, file), to: path.join(modules, file) }));
  const result = installFiles(copies, values.force);
  for (const file of result.conflicts) {
    process.stderr.write(`zel add-pack: ${file} differs from the pack's; --force replaces it\n`);
  }
  if (result.conflicts.length) return 1;
  process.stdout.write(`Installed ${result.installed.length} file(s) into ${modules}` +
    (result.unchanged.length ? ` (${result.unchanged.length} already there)` : '') + '\n');
  return 0;
}

module.exports = { usage, command: addPack, packFiles };
