'use strict';
// The texts of an outcome as a user of the server may see them: a path
// inside the application home is shown relative to it
// ("node_modules/calc/none.so"), and any other absolute path of the server
// (a program file, the zel package, a system library) by its last name
// only. The catalogue's words are left as they are.

// An absolute path of at least two names, not part of a longer word or a
// URL; its last name is kept.
const OTHER_PATH = /(?<![\w.~:/-])\/(?:[^\s/"'()<>:;,]+\/)+[^\s/"'()<>:;,]*/g;

// The home `app` where a path starts with it: followed by slashes (a home
// named with a final "/" gives the engine's paths two) or by no other
// character of a name.
function homePattern(app) {
  const home = app.replace(/\/+$/, '').replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  return new RegExp(`${home}(?:/+|(?![^\\s/"'()<>:;,]))`, 'g');
}

// `text` with the home `app` (an absolute path, or '' for none) and every
// other absolute path shown as a user may see them.
function userText(text, app) {
  if (typeof text !== 'string' || !text.includes('/')) return text;
  const relative = app.startsWith('/') && app !== '/'
    ? text.replace(homePattern(app), (home) => (home.endsWith('/') ? '' : '.')) : text;
  return relative.replace(OTHER_PATH, (path) => path.split('/').filter(Boolean).pop());
}

module.exports = { userText };
