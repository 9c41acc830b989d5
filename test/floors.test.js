'use strict';
// The folders of src/ only include downward (scripts/floors.js).
const test = require('node:test');
require('./support/time_limit').timeLimit(60);
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { check } = require('../scripts/floors');

test('the source tree keeps its floors', () => {
  assert.deepStrictEqual(check(path.join(__dirname, '..', 'src')).problems, []);
});

// Each row: files of a scratch tree (folder/file: included folders) and the
// problems expected.
const cases = [
  { files: { 'base/a.h': ['base'], 'cache/b.cc': ['base'] }, problems: [] },
  { files: { 'base/a.h': ['cache'], 'cache/b.cc': [] }, problems: [/base -> cache runs up/] },
  { files: { 'cache/a.cc': ['lang'], 'lang/b.cc': ['cache'] }, problems: [/circle: cache, lang/] },
  { files: { 'cache/a_test.cc': ['host'], 'host/b.cc': [] }, problems: [] },
  { files: { 'attic/a.cc': [] }, problems: [/attic: on no floor/] },
];

test('an arrow up, a circle or a folder on no floor is a problem', () => {
  for (const { files, problems } of cases) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-floors-'));
    try {
      for (const [file, includes] of Object.entries(files)) {
        fs.mkdirSync(path.join(dir, path.dirname(file)), { recursive: true });
        for (const to of includes) fs.mkdirSync(path.join(dir, to), { recursive: true });
        const lines = includes.map((to) => `#include "${to}/x.h"\n`).join('');
        fs.writeFileSync(path.join(dir, file), lines);
      }
      const found = check(dir).problems;
      assert.strictEqual(found.length, problems.length, `${JSON.stringify(files)}: ${found}`);
      problems.forEach((p, i) => assert.match(found[i], p));
    } finally {
      fs.rmSync(dir, { recursive: true, force: true });
    }
  }
});
