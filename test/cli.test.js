'use strict';
// The command line as a user drives it, and a module built with the kit.
const test = require('node:test');
require('./support/time_limit').timeLimit(600);
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');
const zelBin = path.join(root, 'bin', 'zel');
const sampleSource = path.join(root, 'build', 'sample');

// A private copy of the sample application, so tests can change it.
function copyOfSample() {
  const app = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-cli-'));
  fs.cpSync(sampleSource, app, { recursive: true });
  fs.rmSync(path.join(app, 'program.zel'), { force: true });
  return app;
}

function zel(args, cwd) {
  return spawnSync(process.execPath, [zelBin, ...args], { cwd: cwd || root, encoding: 'utf8' });
}

const app = copyOfSample();
test.after(() => fs.rmSync(app, { recursive: true, force: true }));

const expectedRun = 'Hello from the calculator pack!\nsubtotal = 10\nsubtotal = 42\nsubtotal = 42\n' +
  'subtotal = 63\nsubtotal = 63\nThis statement is written over two lines.\nThat is all for today.\n';

test('run prints what the program does and exits 0 through the stop answer', () => {
  const r = zel(['run', 'program.txt'], app);
  assert.strictEqual(r.stdout, expectedRun);
  assert.strictEqual(r.status, 0);
});

test('run prints every result and failure past the cap of an outcome, each failure once', () => {
  const says = Array.from({ length: 150 }, (_, i) => `say ${i};`);
  const r = spawnSync(process.execPath, [zelBin, 'run', '-', '--app', app], { encoding: 'utf8',
    input: [':s:calculator.zel;', ...says, ...Array(120).fill('say;'), 'say end;'].join('\n') });
  assert.strictEqual(r.stdout, [...says.map((_, i) => i), 'end', ''].join('\n'));
  const failures = r.stderr.split('\n').filter((l) => l.startsWith('<stdin>:'));
  assert.strictEqual(failures.length, 120);
  assert.match(failures[119], /^<stdin>:271: /);
  assert.strictEqual(r.status, 1);
});

test('compile, then run the compiled program with the same output', () => {
  const c = zel(['compile', path.join(app, 'program.txt'), '--app', app]);
  assert.strictEqual(c.stdout, 'Compilation complete.\n');
  assert.strictEqual(c.status, 0);
  const r = zel(['run', path.join(app, 'program.zel'), '--app', app]);
  assert.strictEqual(r.stdout, expectedRun);
});

test('compile reports the lines too short to compile and fails', () => {
  const source = path.join(app, 'short.txt');
  fs.writeFileSync(source, 'say a long enough line;\nshow x;\nsay été;\n');
  const c = zel(['compile', source, '--app', app]);
  assert.strictEqual(c.status, 1);
  assert.match(c.stderr, /^Compilation failed.*\n {2}line 2 is too short to compile: "show x;"\n {2}line 3 .*: "say été;"\n$/);
  assert.strictEqual(fs.existsSync(path.join(app, 'short.zel')), false);
});

test('exec runs one statement, and explains a refusal', () => {
  assert.strictEqual(zel(['exec', 'set width to 7;', '--syntax', 'calculator.zel', '--app', app]).stdout,
    'width = 7\n');
  // A refusal is a failure: explained on standard error, exit status 1.
  const refused = zel(['exec', 'add ten to width;', '--syntax', 'calculator.zel', '--app', app]);
  assert.deepStrictEqual([refused.status, refused.stdout, refused.stderr], [1, '',
    'Lexical error: "ten" is not a number (the form is: add <number> to <name>)\n']);
});

test('run and exec exit 1 on a failed outcome, naming the line; run --timeout', () => {
  const write = (name, text) => {
    fs.writeFileSync(path.join(app, name), text);
    return path.join(app, name);
  };
  const failing = [
    [['run', write('bad.txt', ':s:calculator.zel;\nset a to 1;\n\nfrobnicate a;\n')],
      /^\S*bad\.txt:4: .*No syntax module accepted the statement/],
    [['run', write('nopack.txt', ':s:nothere.zel;\nset a to 1;\n')], /^\S*nopack\.txt:2: Cannot open ".*nothere\.zel"/],
    [['exec', 'set a to 1;', '--syntax', 'nothere.zel'], /^Cannot open ".*nothere\.zel"/],
  ];
  for (const [args, stderr] of failing) {
    const r = zel([...args, '--app', app]);
    assert.strictEqual(r.status, 1, args.join(' '));
    assert.match(r.stderr, stderr);
  }
  const lines = Array.from({ length: 200000 }, (_, i) => `set n to ${i};`).join('\n');
  const long = write('long.txt', `:s:calculator.zel;\n${lines}\n`);
  const timedOut = zel(['run', long, '--app', app, '--timeout', '50']);
  assert.strictEqual(timedOut.status, 1);
  assert.match(timedOut.stderr, /timed out after 50 ms/);
  assert.strictEqual(zel(['run', long, '--app', app, '--timeout', 'soon']).status, 2);
});

test('help, bad arguments and a missing program', () => {
  const help = zel(['--help']);
  assert.strictEqual(help.status, 0);
  assert.match(help.stdout, /^usage: zel COMMAND/);
  for (const command of ['run', 'exec', 'compile', 'check']) {
    const r = zel([command, '--help']);
    assert.strictEqual(r.status, 0);
    assert.match(r.stdout, new RegExp(`^usage: zel ${command}`));
  }
  const unknown = zel(['frobnicate']);
  assert.strictEqual(unknown.status, 2);
  assert.match(unknown.stderr, /unknown command "frobnicate"/);
  const noSyntax = zel(['exec', 'say hi;']);
  assert.strictEqual(noSyntax.status, 2);
  assert.match(noSyntax.stderr, /exec needs --syntax PACK/);
  const badOption = zel(['run', 'x.txt', '--color', 'red']);
  assert.strictEqual(badOption.status, 2);
  assert.match(badOption.stderr, /unknown option --color/);
  const missing = zel(['run', 'missing.txt'], app);
  assert.strictEqual(missing.status, 1);
  assert.strictEqual(missing.stderr, 'Cannot open "missing.txt".\n');
});

test('check passes on the sample and names what is wrong otherwise', () => {
  const ok = zel(['check', '--app', app]);
  assert.strictEqual(ok.status, 0, ok.stdout);
  assert.match(ok.stdout, /calculator\.zel[\s\S]*ok {6}.*forms\.so[\s\S]*All good\.\n$/);

  const broken = copyOfSample();
  try {
    fs.rmSync(path.join(broken, 'node_modules', 'calculator', 'vars.so'));
    fs.writeFileSync(path.join(broken, 'node_modules', 'calculator', 'say.so'), 'not a module\n');
    const lang = path.join(broken, 'node_modules', 'zel_linux', 'lang.conf');
    fs.writeFileSync(lang, fs.readFileSync(lang, 'utf8').replace(/^:4:.*\n/m, ':4:No file\n'));
    const r = zel(['check', '--app', broken]);
    assert.strictEqual(r.status, 1);
    assert.match(r.stdout, /^\/.*calculator\/vars\.so: file not found or not readable/m);
    // The loader's own text, after the file it names.
    assert.match(r.stdout, /^\/.*calculator\/say\.so: \S.* \(named by calculator\.zel:6\)/m);
    assert.match(r.stdout, /lang\.conf:4: message 4 lacks the :E1: placeholder/);
    assert.match(r.stdout, /3 problem\(s\) found\n$/);
  } finally {
    fs.rmSync(broken, { recursive: true, force: true });
  }
});

test('check names each mistake of a pack author with its file, its line and what to do', () => {
  const fixture = (name) => path.join(root, 'build', 'test', 'fixtures', `${name}.so`);
  const at = (dir, ...names) => path.join(dir, 'node_modules', ...names);
  const vars = (dir) => at(dir, 'calculator', 'vars.so');
  const asVars = (name) => (dir) => fs.copyFileSync(fixture(name), vars(dir));
  // The line of the sample's pack that `text` first appears on.
  const lineOf = (dir, text) => fs.readFileSync(at(dir, 'calculator.zel'), 'utf8').split('\n')
    .findIndex((l) => l.includes(text)) + 1;
  const varsSays = (what) => (dir) => `${vars(dir)}: ${what} (named by calculator.zel:${lineOf(dir, '(vars)')})`;
  const exportsAdvice = /; .*ZEL_EXPORT_MODULE\(Class\) .*ZEL_EXPORT_SYNTAX_MODULE\(Class\)/;
  // [mistake, how to make it, the start of the line check prints, what the line goes on to say]
  const rows = [
    ['missing create', asVars('no_create'), varsSays('undefined symbol: create'), exportsAdvice],
    ['mangled create (no extern "C")', asVars('mangled_create'),
      varsSays('undefined symbol: create (it exports the C++ name _Z6createv instead)'),
      /: declare them extern "C", or end/],
    ['missing destroy', asVars('no_destroy'), varsSays('undefined symbol: destroy'), exportsAdvice],
    ['a form without (module)', (dir) => fs.appendFileSync(at(dir, 'calculator.zel'), 'noparen <text>\n'),
      (dir) => `${at(dir, 'calculator.zel')}:${lineOf(dir, 'noparen')}: the form "noparen <text>" names no module`,
      /in parentheses/],
    ['a module whose constructor aborts', asVars('abort_module'),
      (dir) => `${vars(dir)}: crashed (SIGABRT) while being loaded`, /named by calculator\.zel:\d/],
    ['a syntax module that crashes on load',
      (dir) => fs.copyFileSync(fixture('crash_on_load'), at(dir, 'korrin_linux', 'crash.so')),
      (dir) => `${at(dir, 'korrin_linux', 'crash.so')}: crashed (SIGSEGV) while being loaded`, /static data/],
    ['a missing module file', (dir) => fs.rmSync(vars(dir)), varsSays('file not found or not readable'),
      /"zel add-pack"/],
    // Refused at once by the engine's own test, never opened to wait for a writer.
    ['a FIFO for a module file', (dir) => {
      fs.rmSync(vars(dir));
      assert.strictEqual(spawnSync('mkfifo', [vars(dir)]).status, 0);
    }, varsSays('file not found or not readable'), /"zel add-pack"/],
    ['a FIFO for a pack file', (dir) => assert.strictEqual(spawnSync('mkfifo', [at(dir, 'fifo.zel')]).status, 0),
      (dir) => `${at(dir, 'fifo.zel')}: not a regular file that can be read`, /remove it/],
    ['a catalogue missing a message', (dir) => {
      const lang = at(dir, 'zel_linux', 'lang.conf');
      fs.writeFileSync(lang, fs.readFileSync(lang, 'utf8').replace(/^:35:.*\n/m, ''));
    }, (dir) => `${at(dir, 'zel_linux', 'lang.conf')}: message 35 is missing`, /this line .*: :35:Cannot write the/],
    // The line to add is in the home's language.
    ['a French catalogue missing a message', (dir) => fs.writeFileSync(at(dir, 'zel_linux', 'lang.conf'),
      fs.readFileSync(path.join(root, 'lang', 'lang.fr.conf'), 'latin1').replace(/^:36:.*\n/m, ''), 'latin1'),
    (dir) => `${at(dir, 'zel_linux', 'lang.conf')}: message 36 is missing`, /this line .*: :36:Le programme n'a/],
  ];
  for (const [mistake, make, start, advice] of rows) {
    const dir = copyOfSample();
    try {
      make(dir);
      const r = zel(['check', '--app', dir]);
      const line = r.stdout.split('\n').find((l) => l.startsWith(start(dir))) || r.stdout;
      assert.deepStrictEqual([r.status, line.startsWith(start(dir))], [1, true], `${mistake}:\n${r.stdout}`);
      assert.match(line, advice, mistake);
      assert.match(r.stdout, /\n1 problem\(s\) found\n$/, mistake);
    } finally {
      fs.rmSync(dir, { recursive: true, force: true });
    }
  }
});

test('hints: advice for the failure texts a run or exec reports, none for others', (t) => {
  const { hintFor } = require('../lib/cli/hints');
  const rows = [
    ['line 3: /app/node_modules/calc/say.so: undefined symbol: create', /ZEL_EXPORT_MODULE\(Class\)/],
    ['line 3: File not found: /app/node_modules/calc/noparen <text>.so', /names no module/, 4],
    ['File not found: /app/node_modules/calc/say.so', /"zel add-pack"/, 4],
    // Keyed by the message number, so that every catalogue gets them.
    ['Fichier introuvable : /app/node_modules/calc/say.so', /"zel add-pack"/, 4],
    ['File not found: /app/node_modules/calc/say.so', null, 3],
    ['/app/node_modules/calc/say.so: invalid ELF header', /not a shared object/],
    ['Lexical error: "ten" is not a number', null],
  ];
  for (const [text, advice, message = null] of rows) {
    if (advice) assert.match(hintFor(text, message) || '', advice, text);
    else assert.strictEqual(hintFor(text, message), null, text);
  }
  // What a run reports reaches them with its message number.
  const french = copyOfSample();
  t.after(() => fs.rmSync(french, { recursive: true, force: true }));
  fs.copyFileSync(path.join(root, 'lang', 'lang.fr.conf'), path.join(french, 'node_modules', 'zel_linux', 'lang.conf'));
  fs.rmSync(path.join(french, 'node_modules', 'calculator', 'vars.so'));
  const r = zel(['exec', 'set a to 1;', '--syntax', 'calculator.zel', '--app', french]);
  assert.match(r.stderr, /^Fichier introuvable.*\n {2}hint: build the module/);
});

test('add-pack refuses a pack that fails the check, unless --force', () => {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-home-'));
  try {
    const pack = path.join(home, 'pack');
    fs.cpSync(path.join(root, 'build', 'packs', 'calculator'), pack, { recursive: true });
    const fixture = path.join(root, 'build', 'test', 'fixtures', 'no_create.so');
    fs.copyFileSync(fixture, path.join(pack, 'calculator', 'say.so'));
    assert.strictEqual(zel(['init', home]).status, 0);
    const refused = zel(['add-pack', pack, '--app', home]);
    assert.strictEqual(refused.status, 1);
    assert.match(refused.stderr, /^\/.*\/say\.so: undefined symbol: create \(named by calculator\.zel:\d+\); /m);
    assert.strictEqual(fs.existsSync(path.join(home, 'node_modules', 'calculator.zel')), false);
    assert.strictEqual(zel(['add-pack', pack, '--app', home, '--force']).status, 0);
    assert.ok(fs.existsSync(path.join(home, 'node_modules', 'calculator.zel')));
  } finally {
    fs.rmSync(home, { recursive: true, force: true });
  }
});

test('a module built with the kit alone loads and answers', () => {
  const build = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-kit-'));
  try {
    const configure = spawnSync('cmake', ['-S', path.join(__dirname, 'kit'), '-B', build,
      '-G', 'Ninja', `-DZEL_ROOT=${root}`], { encoding: 'utf8' });
    assert.strictEqual(configure.status, 0, configure.stderr);
    const compile = spawnSync('cmake', ['--build', build], { encoding: 'utf8' });
    assert.strictEqual(compile.status, 0, compile.stdout + compile.stderr);
    fs.mkdirSync(path.join(app, 'node_modules', 'greetings'));
    fs.copyFileSync(path.join(build, 'greeter.so'), path.join(app, 'node_modules', 'greetings', 'greeter.so'));
    fs.writeFileSync(path.join(app, 'node_modules', 'greetings.zel'), 'greet <name> (greeter)\n');
    const r = zel(['exec', 'greet world;', '--syntax', 'greetings.zel', '--app', app]);
    assert.strictEqual(r.stdout, 'hello, greet world\n');
  } finally {
    fs.rmSync(build, { recursive: true, force: true });
  }
});

test('arguments: --app=DIR, "--" before a statement, --version, strict errors with status 2', () => {
  const version = require('../package.json').version;
  // A home whose node_modules is a file: the error escapes the command.
  const blocked = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-blocked-'));
  fs.writeFileSync(path.join(blocked, 'node_modules'), '');
  const cases = [
    { args: ['--version'], status: 0, stdout: `${version}\n` },
    { args: [], status: 2, stdout: /^usage: zel COMMAND/ },
    { args: ['exec', '--app=' + app, '--syntax=calculator.zel', 'set depth to 3;'], status: 0, stdout: 'depth = 3\n' },
    // "--help" after "--" is a statement: run, and refused, not the usage text.
    { args: ['exec', '--syntax', 'calculator.zel', '--app', app, '--', '--help'], status: 1,
      stdout: '', stderr: /accepted the statement/ },
    { args: ['run', '--app'], status: 2, stderr: /^zel run: --app needs a value\n/ },
    { args: ['run', 'a.txt', 'b.txt'], status: 2, stderr: /^zel run: unexpected argument b\.txt\n/ },
    { args: ['init', app, '--lang', 'de'], status: 2, stderr: /unknown language de/ },
    { args: ['repl', '--color'], status: 2, stderr: /^zel repl: unknown option --color\n/ },
    { args: ['--bogus'], status: 2, stderr: /^zel: unknown option --bogus\n/ },
    { args: ['run', 'a.txt', '--timeout', '99999999999'], status: 2, stderr: /^zel run: --timeout needs a whole number/ },
    { args: ['run', 'a.txt', '--timeout='], status: 2, stderr: /^zel run: --timeout needs a whole number/ },
    { args: ['init', blocked], status: 1, stderr: /^zel: ENOTDIR: not a directory, mkdir .*\n$/ },
  ];
  for (const { args, status, stdout, stderr } of cases) {
    const r = zel(args);
    assert.strictEqual(r.status, status, `${args.join(' ')}: ${r.stderr}`);
    if (typeof stdout === 'string') assert.strictEqual(r.stdout, stdout, args.join(' '));
    else if (stdout) assert.match(r.stdout, stdout, args.join(' '));
    if (stderr) assert.match(r.stderr, stderr, args.join(' '));
    assert.doesNotMatch(r.stderr, /^\s+at /m, `${args.join(' ')}: a stack trace`);
  }
  fs.rmSync(blocked, { recursive: true, force: true });
});

test('repl through a pipe: declarations, statements over lines, results in order, status 0', () => {
  const input = 'set width to 7;\n:s:calculator.zel;\nset width\n  to 7; add 3\nto width ;\nsay left open';
  const r = spawnSync(process.execPath, [zelBin, 'repl', '--app', app], { input, encoding: 'utf8' });
  assert.strictEqual(r.status, 0, r.stderr);
  // Before the declaration every pack is tried ("*.*"), and the accepting
  // pack's module runs; after it, the pack named.
  assert.strictEqual(r.stdout, 'width = 7\nwidth = 7\nwidth = 10\n');
  assert.match(r.stderr, /unfinished statement left out: say left open $/m);
});

test('a failed statement makes repl exit 1; a forgotten --app gets an English hint', () => {
  const failed = spawnSync(process.execPath, [zelBin, 'repl', '--app', app], { input: 'frobnicate x;\n' });
  assert.strictEqual(failed.status, 1);
  const bare = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-bare-'));
  const forgot = zel(['exec', 'set a to 1;', '--syntax', 'calculator.zel'], bare);
  fs.rmSync(bare, { recursive: true });
  assert.match(forgot.stderr, /^zel: hint: .* is no application home .*; name one with --app DIR\n/);
});

test('init and add-pack lay out an application home that runs the sample', () => {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-home-'));
  const pack = path.join(root, 'build', 'packs', 'calculator');
  try {
    assert.strictEqual(zel(['init', home, '--lang', 'fr']).status, 0);
    const lang = path.join(home, 'node_modules', 'zel_linux', 'lang.conf');
    assert.deepStrictEqual(fs.readFileSync(lang), fs.readFileSync(path.join(root, 'lang', 'lang.fr.conf')));
    assert.ok(fs.statSync(path.join(home, 'node_modules', 'korrin_linux')).isDirectory());
    // Another catalogue is kept unless --force is given.
    assert.strictEqual(zel(['init', home]).status, 1);
    assert.strictEqual(zel(['init', home, '--force']).status, 0);
    assert.deepStrictEqual(fs.readFileSync(lang), fs.readFileSync(path.join(root, 'lang', 'lang.conf')));

    const added = zel(['add-pack', pack, '--app', home]);
    assert.strictEqual(added.stdout, `Installed 5 file(s) into ${path.join(home, 'node_modules')}\n`);
    fs.copyFileSync(path.join(sampleSource, 'program.txt'), path.join(home, 'program.txt'));
    assert.strictEqual(zel(['run', 'program.txt'], home).stdout, expectedRun);

    // A changed file stops the whole install; --force puts the pack's back.
    const syntax = path.join(home, 'node_modules', 'calculator.zel');
    fs.writeFileSync(syntax, 'say <text> (say)\n');
    const refused = zel(['add-pack', pack, '--app', home]);
    assert.strictEqual(refused.status, 1);
    assert.match(refused.stderr, /calculator\.zel differs from the pack's; --force replaces it/);
    assert.strictEqual(fs.readFileSync(syntax, 'utf8'), 'say <text> (say)\n');
    assert.strictEqual(zel(['add-pack', pack, '--app', home, '--force']).status, 0);
    assert.strictEqual(zel(['run', 'program.txt'], home).stdout, expectedRun);
    assert.match(zel(['add-pack', path.join(root, 'lang'), '--app', home]).stderr, /should hold one NAME\.zel file, not 0/);
  } finally {
    fs.rmSync(home, { recursive: true, force: true });
  }
});
