'use strict';
// Scratch applications for the JavaScript tests: a "calc" pack whose forms
// run fixture modules, the keyword syntax module and a catalogue.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const fixtures = path.join(__dirname, '..', '..', 'build', 'test', 'fixtures');

// A catalogue whose message N reads "<prefix>N", followed by ":E1:" where the
// engine fills one in; message 21, the stop answer, is "STOP-NOW".
function testCatalog(prefix = 'M') {
  return [
    ':1:M1 :E1:', ':2:M2 :E1:', ':3:M3 :E1:', ':4:M4 :E1:', ':9:M9', ':10:M10', ':11:M11 :E1:',
    ':12:M12', ':14:M14 :E1:', ':18:M18 :E1:', ':19:M19', ':20:M20', ':21:STOP-NOW', ':35:M35',
    ':36:M36', ':37:M37 :E1:', '',
  ].join('\n').replace(/:M/g, `:${prefix}`);
}

// Makes an application in a new temporary directory named after `tag`.
// `modules` maps each module name of the calc pack to the fixture it is a
// copy of; `forms` is the text of calc.zel. Returns { app, syntax }.
function makeScratchApp({ tag, modules, forms, catalog = testCatalog() }) {
  const app = fs.mkdtempSync(path.join(os.tmpdir(), `zel-${tag}-`));
  const put = (rel, from) => {
    const target = path.join(app, 'node_modules', rel);
    fs.mkdirSync(path.dirname(target), { recursive: true });
    fs.copyFileSync(path.join(fixtures, from + '.so'), target);
  };
  put('korrin_linux/keyword_syntax.so', 'keyword_syntax');
  for (const [name, fixture] of Object.entries(modules)) put(`calc/${name}.so`, fixture);
  fs.mkdirSync(path.join(app, 'node_modules', 'zel_linux'), { recursive: true });
  fs.writeFileSync(path.join(app, 'node_modules', 'zel_linux', 'lang.conf'), catalog);
  const syntax = path.join(app, 'node_modules', 'calc.zel');
  fs.writeFileSync(syntax, forms);
  return { app, syntax };
}

module.exports = { fixtures, testCatalog, makeScratchApp };
