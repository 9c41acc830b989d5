'use strict';
// zel against what users would pick instead to run untrusted scripts, on one
// program: 10,000 statements that each set a variable to a value and make
// its text, "width = <v>", the last one being the program's result. For zel
// that is the sample calculator pack's "set width to <v>;" (build/sample).
// Each round every engine runs its own program from source, read from a
// file, with values that change from round to round (so that no engine
// serves a cached compilation); the engines take turns within a round, and
// each one's median over the rounds is printed with its ratio to zel's
// Executer. Then the round trip of one statement from JavaScript.
// A second workload tries many forms: a pack of 50 forms "kwN <text>"
// where every statement has the last one, decided by the sample's own
// syntax module, and again by a minimal one that declares nothing; the
// peers run the same calls of the last of 50 functions. Last, what starting
// each one adds to a bare `node` start.
// Run through `npm run bench:peers`, which installs this directory's own
// dependencies first (install.js). With ZEL_BASELINE=<dir of another built
// checkout>, that copy of zel is measured in the same rounds, each copy
// with its own build's sample and modules.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const vm = require('node:vm');
const ivm = require('isolated-vm');
const { getQuickJS } = require('quickjs-emscripten');
const { LuaFactory } = require('wasmoon');

const { compareStarts, zelStartScript } = require('../startup_bench.js');

const root = path.join(__dirname, '..', '..');
const zel = require(root);
const app = path.join(root, 'build', 'sample');
const syntax = path.join(app, 'node_modules', 'calculator.zel');
const STATEMENTS = 10000;
const FORMS = 50;
const ROUNDS = Number(process.argv[2]) || 10;
const baselineDir = process.env.ZEL_BASELINE ? path.resolve(process.env.ZEL_BASELINE) : null;
const baseline = baselineDir ? require(baselineDir) : null;

const now = () => Number(process.hrtime.bigint()) / 1e6;  // milliseconds

// Each engine's program for the values `values`, and the value it must give.
const programs = {
  zel: (values) => `:s:calculator.zel;\n${values.map((v) => `set width to ${v};`).join('\n')}\n`,
  // A block, so that its `let` is new every round and its last statement's
  // value is the script's completion value.
  many: (values) => `:s:many.zel;\n${values.map((v) => `kw${FORMS - 1} word ${v};`).join('\n')}\n`,
  manyJs: (values) => `{ let result;\n${Array.from({ length: FORMS }, (_, k) =>
    `function kw${k}(text) { return 'kw${k} ' + text; }`).join('\n')}\n${values.map((v) =>
    `result = kw${FORMS - 1}('word ${v}');`).join('\n')}\nresult; }\n`,
  js: (values) => `{ let width, result;\n${values.map((v) =>
    `width = ${v}; result = \`width = \${width}\`;`).join('\n')}\nresult; }\n`,
  lua: (values) => `local width, result\n${values.map((v) =>
    `width = ${v} result = "width = " .. width`).join('\n')}\nreturn result\n`,
};

// The engines, each set up once: a function of a program file that runs it
// and returns its result.
async function setUp() {
  const isolate = new ivm.Isolate({ memoryLimit: 128 });
  const ivmContext = isolate.createContextSync();
  const quickjs = (await getQuickJS()).newContext();
  const lua = await new LuaFactory().createEngine();
  const vmContext = vm.createContext({});
  const read = (file) => fs.readFileSync(file, 'utf8');
  const base = baseline ? {
    'zel Executer (baseline)': {
      lang: 'zel', run: (file) => baseline.Executer(path.join(baselineDir, 'build', 'sample'), file),
    },
  } : {};
  return {
    // The classic export: the engine reads, checks and runs every statement
    // (syntax module, then pack module) on the calling thread.
    'zel Executer': { lang: 'zel', run: (file) => zel.Executer(app, file) },
    // The promise API: the same run on the engine's thread, awaited.
    'zel await run': { lang: 'zel', run: async (file) => (await zel.run(app, file)).result },
    ...base,
    // A V8 isolate of its own (isolated-vm): the script is compiled and run
    // in a context of that isolate; the result string is copied out.
    'isolated-vm': { lang: 'js', run: (file) => ivmContext.evalSync(read(file)) },
    // QuickJS compiled to WebAssembly (quickjs-emscripten): evaluated in one
    // QuickJS context; the result is read out of the WebAssembly memory.
    'QuickJS-wasm': { lang: 'js', run: (file) => quickjsEval(quickjs, read(file)) },
    // Lua 5.4 compiled to WebAssembly (wasmoon): one Lua state runs the chunk.
    wasmoon: { lang: 'lua', run: (file) => lua.doStringSync(read(file)) },
    // node:vm, for reference only: a context of the host's own isolate, no
    // security boundary.
    'node:vm': { lang: 'js', run: (file) => vm.runInContext(read(file), vmContext) },
  };
}

function quickjsEval(context, source) {
  const handle = context.unwrapResult(context.evalCode(source));
  try {
    return context.getString(handle);
  } finally {
    handle.dispose();
  }
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

// Writes each language's program for `round` into `dir`; returns the files
// and the expected results.
function writePrograms(dir, round) {
  const values = Array.from({ length: STATEMENTS }, (_, i) => round * STATEMENTS + i);
  const files = {};
  for (const [lang, make] of Object.entries(programs)) {
    files[lang] = path.join(dir, `r${round}-${lang}.txt`);
    fs.writeFileSync(files[lang], make(values));
  }
  const last = values[values.length - 1];
  return {
    files,
    expected: `width = ${last}`,
    expectedMany: { many: 'ok', manyJs: `kw${FORMS - 1} word ${last}` },
  };
}

// Lays out under `dir` an application for the 50-form workload, with the
// zel build at `zelRoot`: its sample's syntax module (forms "kwN <text>"),
// or its minimal benchmark syntax module (forms "kwN", first word alone);
// the pack module answers "ok".
function manyFormsApp(dir, zelRoot, minimal) {
  const build = path.join(zelRoot, 'build');
  const modules = path.join(dir, 'node_modules');
  for (const sub of ['zel_linux', 'korrin_linux', 'many']) fs.mkdirSync(path.join(modules, sub), { recursive: true });
  fs.copyFileSync(path.join(build, 'sample', 'node_modules', 'zel_linux', 'lang.conf'),
    path.join(modules, 'zel_linux', 'lang.conf'));
  const syntaxModule = minimal ? path.join(build, 'bench', 'modules', 'bench_syntax.so') :
    path.join(build, 'sample', 'node_modules', 'korrin_linux', 'forms.so');
  fs.copyFileSync(syntaxModule, path.join(modules, 'korrin_linux', 'forms.so'));
  fs.copyFileSync(path.join(build, 'bench', 'modules', 'bench_op.so'), path.join(modules, 'many', 'op.so'));
  const forms = Array.from({ length: FORMS }, (_, k) => `kw${k}${minimal ? '' : ' <text>'} (op)\n`);
  fs.writeFileSync(path.join(modules, 'many.zel'), forms.join(''));
  return dir;
}

// The engines of the 50-form workload.
function manyFormsEngines(dir, ivmContext, vmContext) {
  const read = (file) => fs.readFileSync(file, 'utf8');
  const engines = {};
  for (const [label, copy, copyRoot] of [['zel', zel, root], ['zel (baseline)', baseline, baselineDir]]) {
    if (!copy) continue;
    for (const minimal of [false, true]) {
      const appDir = manyFormsApp(path.join(dir, `${label.replace(/\W/g, '')}-${minimal}`), copyRoot, minimal);
      engines[`${label}, ${minimal ? 'minimal' : 'sample'} module`] = {
        lang: 'many', run: (file) => copy.Executer(appDir, file),
      };
    }
  }
  engines['isolated-vm'] = { lang: 'manyJs', run: (file) => ivmContext.evalSync(read(file)) };
  engines['node:vm'] = { lang: 'manyJs', run: (file) => vm.runInContext(read(file), vmContext) };
  return engines;
}

async function manyFormsRounds(dir) {
  const isolate = new ivm.Isolate({ memoryLimit: 128 });
  const engines = manyFormsEngines(dir, isolate.createContextSync(), vm.createContext({}));
  const times = await timeRounds(engines, dir, (written, lang) => written.expectedMany[lang]);
  console.log(`${STATEMENTS} statements of the last of ${FORMS} forms, median of ${ROUNDS} rounds:`);
  printTimes(times);
}

function printTimes(times) {
  const names = Object.keys(times);
  const base = median(times[names[0]]);
  for (const name of names) {
    const ms = median(times[name]);
    console.log(`  ${name.padEnd(30)} ${ms.toFixed(1).padStart(7)} ms  ${(ms / base).toFixed(2)}x ${names[0]}`);
  }
}

// Runs every engine once a round, in turns, and gives each one's times.
async function timeRounds(engines, dir, expectedOf) {
  const names = Object.keys(engines);
  const times = Object.fromEntries(names.map((name) => [name, []]));
  for (let round = 0; round <= ROUNDS; round++) {  // round 0 warms up
    const written = writePrograms(dir, round);
    // A different engine starts each round.
    for (let k = 0; k < names.length; k++) {
      const name = names[(k + round) % names.length];
      const { lang, run } = engines[name];
      const expected = expectedOf(written, lang);
      const start = now();
      const result = await run(written.files[lang]);
      const ms = now() - start;
      if (result !== expected) throw new Error(`${name}: "${result}" instead of "${expected}"`);
      if (round > 0) times[name].push(ms);
    }
  }
  return times;
}

async function programRounds(engines, dir) {
  const times = await timeRounds(engines, dir, (written) => written.expected);
  console.log(`${STATEMENTS} statements as one program, median of ${ROUNDS} interleaved rounds:`);
  printTimes(times);
}

// What requiring each engine and running one statement adds to a bare
// `node` start.
function startUps() {
  const scripts = { 'node -e 0': '0', 'zel: require + Commandes': zelStartScript(root) };
  if (baselineDir) scripts['zel (baseline)'] = zelStartScript(baselineDir);
  scripts['isolated-vm: require + eval'] = `const ivm = require(${JSON.stringify(require.resolve('isolated-vm'))}); ` +
    'new ivm.Isolate({ memoryLimit: 128 }).createContextSync().evalSync("let width = 7; `width = ${width}`")';
  scripts['node:vm: context + script'] =
    "require('node:vm').runInNewContext('let width = 7; `width = ${width}`')";
  compareStarts(scripts, Number(process.env.ZEL_STARTS) || 30);
}

// Microseconds per call of `call`, after as many calls to warm up.
async function perCall(calls, call) {
  for (let i = 0; i < calls; i++) await call();
  const start = now();
  for (let i = 0; i < calls; i++) await call();
  return ((now() - start) * 1e3) / calls;
}

async function roundTrips(calls) {
  const isolate = new ivm.Isolate({ memoryLimit: 128 });
  const context = isolate.createContextSync();
  const jsStatement = 'width = 7; `width = ${width}`';
  const sync = await perCall(calls, () => zel.Commandes(app, 'set width to 7;', syntax));
  const async = await perCall(calls, () => zel.exec(app, 'set width to 7;', syntax));
  const iso = await perCall(calls, () => context.evalSync(jsStatement));
  const isoAsync = await perCall(calls, () => context.eval(jsStatement));
  console.log(`round trip of one statement, ${calls} calls:`);
  console.log(`  zel Commandes          ${sync.toFixed(2).padStart(6)} us`);
  console.log(`  zel await exec(...)    ${async.toFixed(2).padStart(6)} us  ${(async / sync).toFixed(2)}x Commandes`);
  if (baseline) {
    const baseApp = path.join(baselineDir, 'build', 'sample');
    const baseSyntax = path.join(baseApp, 'node_modules', 'calculator.zel');
    const base = await perCall(calls, () => baseline.Commandes(baseApp, 'set width to 7;', baseSyntax));
    console.log(`  zel Commandes (baseline) ${base.toFixed(2).padStart(6)} us`);
  }
  console.log(`  isolated-vm evalSync   ${iso.toFixed(2).padStart(6)} us`);
  console.log(`  isolated-vm await eval ${isoAsync.toFixed(2).padStart(6)} us`);
}

async function main() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-peers-'));
  try {
    await programRounds(await setUp(), dir);
    await manyFormsRounds(dir);
    await roundTrips(20000);
    startUps();
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
