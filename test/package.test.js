'use strict';
// zel as a dependency: packed with npm pack, installed from the tarball into
// a fresh project, used from CommonJS, ESM and TypeScript, with the prebuilt
// add-on and with the source build; an application home beside the project.
const test = require('node:test');
require('./support/time_limit').timeLimit(600);
const assert = require('node:assert');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { codeBlocks } = require('./support/doc_blocks');

const root = path.join(__dirname, '..');
const sample = path.join(root, 'build', 'sample');
const expectedRun = 'Hello from the calculator pack!\nsubtotal = 10\nsubtotal = 42\nsubtotal = 42\n' +
  'subtotal = 63\nsubtotal = 63\nThis statement is written over two lines.\nThat is all for today.\n';
const npmFlags = ['--no-audit', '--no-fund', '--prefer-offline', '--loglevel=error'];

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-package-'));
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

function sh(command, args, cwd, options = {}) {
  const r = spawnSync(command, args, { cwd, encoding: 'utf8', ...options });
  assert.strictEqual(r.status, 0, `${command} ${args.join(' ')}:\n${r.stdout}\n${r.stderr}`);
  return r.stdout;
}

// A fresh npm project in `dir` with zel installed from `tarball`; `wrap`
// turns the npm command into the one to run (a private mount namespace).
function projectWith(dir, tarball, wrap = (args) => ['npm', args]) {
  fs.mkdirSync(dir);
  fs.writeFileSync(path.join(dir, 'package.json'), '{ "name": "app", "version": "1.0.0", "private": true }\n');
  const [command, args] = wrap(['install', tarball, ...npmFlags]);
  sh(command, args, dir);
  return dir;
}

// Runs a statement of the sample pack through require() and through import.
function assertRunsSample(project) {
  const args = [sample, 'set width to 7;', path.join(sample, 'node_modules', 'calculator.zel')].map((a) => JSON.stringify(a));
  assert.strictEqual(sh(process.execPath, ['-e', `console.log(require('zel').Commandes(${args}))`], project),
    'width = 7\n');
  assert.strictEqual(sh(process.execPath, ['--input-type=module', '-e',
    `import { Commandes } from 'zel'; console.log(Commandes(${args}));`], project), 'width = 7\n');
}

// A wrap for projectWith and run: the command runs in a private mount
// namespace where each existing path of `paths` has `cover` mounted over it
// and `guard` holds, when this process may make one.
function hiding(t, what, paths, cover, guard) {
  if (spawnSync('unshare', ['-m', 'true']).status !== 0) {
    t.diagnostic(`cannot make a mount namespace: ${what} stay visible`);
    return (args, command = 'npm') => [command, args];
  }
  const mounts = paths.filter((file) => fs.existsSync(file)).map((file) => `mount --bind ${cover} ${file}`);
  return (args, command = 'npm') => ['unshare', ['-m', '--propagation', 'private', 'sh', '-c',
    [...mounts, guard, 'exec "$@"'].join(' && '), 'sh', command, ...args]];
}

function snapshot(dir) {
  return fs.readdirSync(dir, { recursive: true }).sort().map((name) => {
    const file = path.join(dir, name);
    if (!fs.statSync(file).isFile()) return name;
    return `${name} ${crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex')}`;
  });
}

const packed = JSON.parse(sh('npm', ['pack', '--json', '--pack-destination', work], root))[0];
const tarball = path.join(work, packed.filename);

test('the tarball holds what a user needs and no test, fuzz or benchmark file', () => {
  const listed = JSON.parse(sh('npm', ['pack', '--dry-run', '--json'], root))[0].files.map((f) => f.path);
  assert.deepStrictEqual(listed.filter((f) => /^(test|fuzz|bench)\/|^examples\/(?!calculator\/)|_test\.cc$|^build/.test(f)), []);
  for (const needed of ['prebuilds/linux-x64/zel.node', 'prebuilds/linux-x64/zel-probe', 'index.js',
    'index.mjs', 'index.d.ts', 'index.d.mts', 'lib/addon.js', 'bin/zel', 'scripts/install.js',
    'CMakeLists.txt', 'cmake/ZelModule.cmake', 'src/modules/zel_module.h', 'lang/lang.fr.conf', 'README.md',
    'prebuilds/linux-x64/packs/calculator/calculator.zel', 'prebuilds/linux-x64/packs/calculator/korrin_linux/forms.so',
    'examples/calculator/CMakeLists.txt', 'examples/calculator/program.txt']) {
    assert.ok(listed.includes(needed), `${needed} is missing from the tarball`);
  }
});

test('installed from the tarball: CommonJS, ESM, TypeScript, npx and a home beside the project', () => {
  const project = projectWith(path.join(work, 'prebuilt'), tarball);
  assert.ok(!fs.existsSync(path.join(project, 'node_modules', 'zel', 'build')), 'built although a prebuilt fits');
  assertRunsSample(project);

  fs.writeFileSync(path.join(project, 'cjs.cts'), `import zel = require('zel');
export const out: string = zel.Executer('/app', '/app/program.txt');
// @ts-expect-error the program path is required
zel.Executer('/app');
`);
  fs.writeFileSync(path.join(project, 'esm.mts'), `import zel, { Executer, Commandes, Compiler } from 'zel';
export const out: string[] = [Executer('/a', '/a/p.txt'), Commandes('/a', 's;', '*.*'),
  Compiler('/a/p.txt', '.zel'), zel.Commandes('/a', 's;', '*.*')];
// @ts-expect-error Commandes takes three texts
Commandes('/a', 's;');
`);
  sh(process.execPath, [path.join(root, 'node_modules', 'typescript', 'bin', 'tsc'), '--noEmit', '--strict',
    '--module', 'nodenext', '--target', 'es2022', 'cjs.cts', 'esm.mts'], project);

  assert.strictEqual(sh('npx', ['zel', '--version'], project), `${require('../package.json').version}\n`);

  // An application home beside the npm project, filled by the installed zel.
  const home = path.join(work, 'home');
  sh('npx', ['zel', 'init', home], project);
  sh('npx', ['zel', 'add-pack', path.join(root, 'build', 'packs', 'calculator'), '--app', home], project);
  fs.copyFileSync(path.join(sample, 'program.txt'), path.join(home, 'program.txt'));
  assert.strictEqual(sh('npx', ['zel', 'run', path.join(home, 'program.txt'), '--app', home], project), expectedRun);
  assert.match(sh('npx', ['zel', 'check', '--app', home], project), /All good\.\n$/);
  const before = snapshot(home);
  sh('npm', ['install', ...npmFlags], project);
  assert.deepStrictEqual(snapshot(home), before);
});

test('without the prebuilt add-on, the install builds it from source without GoogleTest or Boost', (t) => {
  // The tarball less its prebuilds.
  const unpacked = path.join(work, 'unpacked');
  fs.mkdirSync(unpacked);
  sh('tar', ['-xzf', tarball, '-C', unpacked]);
  fs.rmSync(path.join(unpacked, 'package', 'prebuilds'), { recursive: true });
  const sourceOnly = path.join(work, 'zel-source.tgz');
  sh('tar', ['-czf', sourceOnly, '-C', unpacked, 'package']);

  // GoogleTest and Boost hidden under empty directories.
  const empty = fs.mkdtempSync(path.join(work, 'empty-'));
  const hidden = ['/usr/include/gtest', '/usr/include/boost', '/usr/lib/x86_64-linux-gnu/cmake/GTest'];
  const wrap = hiding(t, 'GoogleTest and Boost', hidden, empty, 'test ! -e /usr/include/gtest/gtest.h');
  const project = projectWith(path.join(work, 'source'), sourceOnly, wrap);
  const installed = path.join(project, 'node_modules', 'zel');
  assert.ok(fs.existsSync(path.join(installed, 'build', 'Release', 'zel.node')));
  assert.ok(!fs.existsSync(path.join(installed, 'prebuilds')));
  assertRunsSample(project);
  // The sample pack is built from its sources too.
  sh('npx', ['zel', 'init', 'home', '--example'], project);
  assert.strictEqual(sh('npx', ['zel', 'run', 'home/program.txt', '--app', 'home'], project), expectedRun);
});

test('without a compiler: the tarball installs, init --example lays out a home, the README example runs', (t) => {
  const compilers = ['g++', 'c++', 'cc', 'gcc', 'clang', 'clang++'].map((name) => path.join('/usr/bin', name))
    .filter((file) => fs.existsSync(file)).map((file) => fs.realpathSync(file));
  const wrap = hiding(t, 'the compilers', [...new Set(compilers)], '/dev/null',
    '! g++ --version >/dev/null 2>&1 && ! c++ --version >/dev/null 2>&1 && ! clang --version >/dev/null 2>&1');
  const project = projectWith(path.join(work, 'no-compiler'), tarball, wrap);
  sh(...wrap(['zel', 'init', 'zel-home', '--example'], 'npx'), project);
  const run = wrap(['zel', 'run', 'zel-home/program.txt', '--app', 'zel-home'], 'npx');
  assert.strictEqual(sh(...run, project), expectedRun);
  // The README's first JavaScript example, as written, prints what the README shows after it.
  const blocks = codeBlocks(path.join(root, 'README.md'));
  const first = blocks.findIndex((b) => b.kind === 'js');
  fs.writeFileSync(path.join(project, 'example.js'), blocks[first].code);
  assert.strictEqual(sh(...wrap(['example.js'], process.execPath), project), blocks[first + 1].code);
});

test('installed by path from a checkout without build outputs, the add-on is built and loads', () => {
  // The repository's files as a checkout has them, in a folder named zel.
  const checkout = path.join(work, 'zel');
  const files = sh('git', ['ls-files', '-z', '--cached', '--others', '--exclude-standard'], root).split('\0');
  for (const file of files.filter((f) => f && fs.existsSync(path.join(root, f)))) {
    fs.cpSync(path.join(root, file), path.join(checkout, file));
  }
  const project = projectWith(path.join(work, 'by-path'), '../zel');
  assert.ok(fs.existsSync(path.join(checkout, 'build', 'Release', 'zel.node')));
  assertRunsSample(project);
});
