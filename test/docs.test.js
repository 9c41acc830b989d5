'use strict';
// The module guide's C++ examples compile against the plug-in header alone.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.join(__dirname, '..');

test('every C++ block of docs/modules.md compiles against zel_module.h', () => {
  const guide = fs.readFileSync(path.join(root, 'docs', 'modules.md'), 'utf8');
  const blocks = [...guide.matchAll(/^```cpp\n([\s\S]*?)^```$/gm)].map((match) => match[1]);
  assert.ok(blocks.length >= 2, 'the guide has its C++ examples');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-docs-'));
  try {
    blocks.forEach((code, i) => {
      const file = path.join(dir, `block${i + 1}.cc`);
      fs.writeFileSync(file, code);
      const r = spawnSync('g++', ['-std=c++17', '-fsyntax-only', '-Wall', '-Werror',
        '-I', path.join(root, 'src', 'modules'), file], { encoding: 'utf8' });
      assert.strictEqual(r.status, 0, `C++ block ${i + 1} of docs/modules.md:\n${code}\n${r.stderr}`);
    });
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
