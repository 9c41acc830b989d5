#!/usr/bin/env node
'use strict';
// The floors of src/: each folder is a floor, and a file includes only its
// own folder, folders on floors below, or folders of its own floor that do
// not include it back (directly or round a circle). Draws the graph from the
// `#include "folder/file"` lines and exits 1 when an arrow runs up or folders
// form a circle.
//
//   node scripts/floors.js [srcDir]   prints the arrows, then any problem

const fs = require('node:fs');
const path = require('node:path');

// Lowest first.
const FLOORS = [
  ['base'],                                                       // ground
  ['cache', 'lang', 'call', 'compile', 'modules', 'syntax', 'exec'],  // subsystems
  ['zel', 'entries'],                                             // classic entries
  ['host'],                                                       // engine thread, signals
  ['index'],                                                      // the Node binding
];

// Every engine source file below srcDir, as paths relative to it. Tests
// (*_test.cc) are left out: they are linked into test programs, not the
// engine, and may drive a subsystem through the entries above it.
function sourceFiles(srcDir) {
  const files = [];
  for (const folder of fs.readdirSync(srcDir, { withFileTypes: true })) {
    if (!folder.isDirectory()) continue;
    for (const f of fs.readdirSync(path.join(srcDir, folder.name))) {
      if (/\.(cc|h)$/.test(f) && !/_test\.cc$/.test(f)) files.push(`${folder.name}/${f}`);
    }
  }
  return files;
}

// Map "from -> to" folder arrow => the files that make it.
function arrows(srcDir) {
  const found = new Map();
  for (const file of sourceFiles(srcDir)) {
    const from = file.split('/')[0];
    const text = fs.readFileSync(path.join(srcDir, file), 'utf8');
    for (const m of text.matchAll(/^\s*#\s*include\s+"([^"/]+)\/[^"]+"/gm)) {
      const to = m[1];
      if (to === from || !fs.existsSync(path.join(srcDir, to))) continue;
      const key = `${from} -> ${to}`;
      if (!found.has(key)) found.set(key, new Set());
      found.get(key).add(file);
    }
  }
  return found;
}

function floorOf(folder) {
  return FLOORS.findIndex((floor) => floor.includes(folder));
}

// Folder circles, each as the list of folders round it (Tarjan's strongly
// connected components of more than one folder).
function circles(edges) {
  const next = new Map();
  for (const [from, to] of edges) {
    if (!next.has(from)) next.set(from, []);
    next.get(from).push(to);
  }
  const index = new Map(), low = new Map(), stack = [], onStack = new Set(), out = [];
  const visit = (v) => {
    index.set(v, index.size); low.set(v, index.get(v)); stack.push(v); onStack.add(v);
    for (const w of next.get(v) || []) {
      if (!index.has(w)) { visit(w); low.set(v, Math.min(low.get(v), low.get(w))); }
      else if (onStack.has(w)) low.set(v, Math.min(low.get(v), index.get(w)));
    }
    if (low.get(v) !== index.get(v)) return;
    const component = [];
    let w;
    do { w = stack.pop(); onStack.delete(w); component.push(w); } while (w !== v);
    if (component.length > 1) out.push(component.sort());
  };
  for (const v of next.keys()) if (!index.has(v)) visit(v);
  return out;
}

// The problems of the tree at srcDir: folders on no floor, arrows up,
// circles. Empty when the floors hold.
function check(srcDir) {
  const found = arrows(srcDir);
  const edges = [...found.keys()].map((k) => k.split(' -> '));
  const problems = [];
  const folders = new Set(sourceFiles(srcDir).map((f) => f.split('/')[0]));
  for (const folder of folders) {
    if (floorOf(folder) < 0) problems.push(`${folder}: on no floor`);
  }
  for (const [from, to] of edges) {
    if (floorOf(from) >= 0 && floorOf(to) > floorOf(from)) {
      problems.push(`${from} -> ${to} runs up (${[...found.get(`${from} -> ${to}`)].join(', ')})`);
    }
  }
  for (const circle of circles(edges)) problems.push(`circle: ${circle.join(', ')}`);
  return { arrows: found, problems };
}

module.exports = { check, FLOORS };

if (require.main === module) {
  const srcDir = process.argv[2] || path.join(__dirname, '..', 'src');
  const { arrows: found, problems } = check(srcDir);
  for (const key of [...found.keys()].sort()) console.log(key);
  for (const p of problems) console.error(p);
  process.exitCode = problems.length ? 1 : 0;
}
