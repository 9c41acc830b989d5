'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { UsageError, parse, appDir } = require('./common');
const { installFiles } = require('./files');
const { packProblems } = require('./inspect');

const usage = `usage: zel add-pack PACK [--app DIR] [--force]

Installs a built pack into the application home DIR (see "zel init"). PACK
is a directory laid out by zel_add_pack (cmake/ZelModule.cmake): NAME.zel,
the pack's modules in NAME/, and its syntax modules in korrin_linux/. They
go to DIR/node_modules/NAME.zel, DIR/node_modules/NAME/ and
DIR/node_modules/korrin_linux/.

The pack is checked first, as "zel check" would: its forms, and each of its
modules loaded in a process of its own. Nothing is installed when a problem
is found, or when a file there differs from the pack's, unless --force is
given.`;

// Every file below `dir`, as paths relative to `base`.
function filesBelow(dir, base) {
  if (!fs.existsSync(dir)) return [];
  return fs.readdirSync(dir, { withFileTypes: true }).flatMap((entry) => {
    const file = path.join(dir, entry.name);
    if (entry.isDirectory()) return filesBelow(file, base);
    return entry.isFile() ? [path.relative(base, file)] : [];
  });
}

// The files of the built pack in `pack`, relative to it. Throws a UsageError
// when `pack` is not a pack directory.
function packFiles(pack) {
  if (!fs.existsSync(pack) || !fs.statSync(pack).isDirectory()) {
    throw new UsageError(`${pack} is not a directory`);
  }
  const syntaxFiles = fs.readdirSync(pack).filter((name) => name.endsWith('.zel'));
  if (syntaxFiles.length !== 1) {
    throw new UsageError(`${pack} should hold one NAME.zel file, not ${syntaxFiles.length}`);
  }
  const name = syntaxFiles[0].slice(0, -'.zel'.length);
  return [syntaxFiles[0], ...filesBelow(path.join(pack, name), pack),
    ...filesBelow(path.join(pack, 'korrin_linux'), pack)];
}

function addPack(args) {
  const options = { app: { type: 'string' }, force: { type: 'boolean' } };
  const { values, positionals } = parse(args, options, 1);
  if (positionals.length !== 1) throw new UsageError('add-pack needs a PACK');
  const pack = path.resolve(positionals[0]);
  const modules = path.join(appDir(values), 'node_modules');
  if (!fs.existsSync(modules)) {
    process.stderr.write(`zel add-pack: ${modules} does not exist; run "zel init" first\n`);
    return 1;
  }
  const files = packFiles(pack);
  const problems = packProblems(pack, files[0]);
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
