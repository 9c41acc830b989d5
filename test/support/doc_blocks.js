'use strict';
// The fenced code blocks of a Markdown file, for the tests that run them.
const fs = require('node:fs');

const MARKER = /^<!-- doc-test: skip \((.+)\) -->$/;

// Each fenced block of `file`, in order, as { kind, code, line, skip }: kind
// is the fence's info word ('' for none), code the text with the fence's
// indentation removed, line the fence's line number, and skip the reason of
// a "<!-- doc-test: skip (reason) -->" line right before the block (blank
// lines between allowed), or null. Throws on a marker that precedes no block.
function codeBlocks(file) {
  const text = fs.readFileSync(file, 'utf8');
  const blocks = [...text.matchAll(/^( *)```(\w*)\n([\s\S]*?)^\1```$/gm)].map((m) => {
    const before = text.slice(0, m.index);
    const marker = MARKER.exec(before.trimEnd().split('\n').pop().trim());
    return {
      kind: m[2], code: m[3].replace(new RegExp(`^${m[1]}`, 'gm'), ''),
      line: before.split('\n').length, skip: marker && marker[1],
    };
  });
  const markers = text.split('\n').filter((l) => MARKER.test(l.trim())).length;
  if (markers !== blocks.filter((b) => b.skip).length) throw new Error(`${file}: a doc-test marker precedes no block`);
  return blocks;
}

module.exports = { codeBlocks };
