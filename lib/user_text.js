'use strict';
// The texts of an outcome as a user of the server may see them: a path
// inside the application home is shown relative to it
// ("node_modules/calc/none.so"), and any other absolute path of the server
// (a program file, the zel package, a system library) by its last name
// only, whether written as a path or as a file: URL (a JavaScript module's
// error, a loader's message). The catalogue's words are left as they are.
const { fileURLToPath } = require('node:url');

// What ends a name: a blank, a quote, a bracket or the punctuation that
// follows a path (":3" of a line, ";" of a statement).
const NAME = `[^\\s/"'()<>:;,]`;
// A name before a "/": it may hold spaces ("my app"), and after a space
// brackets too ("a (old)"). Prose followed by a word with a "/" in it
// ("/srv/x is 1/2") is thus taken for one path: hiding a word too many is
// the safe side.
const INNER = `${NAME}+(?: +[^\\s/"'<>:;,]+)*`;
// A file: URL (its host may be empty), its names as a path's.
const FILE_URL = `(?<![\\w.+-])[Ff][Ii][Ll][Ee]://${NAME}*(?:/(?:${INNER}/)*${NAME}*)?`;
// An absolute path of at least two names, not part of a longer word or a
// URL; its last name is kept.
const OTHER_PATH = `(?<![\\w.~:/-])/(?:${INNER}/)+${NAME}*`;

const lastName = (path) => path.split('/').filter(Boolean).pop() || path;

// `file` as a user sees it: relative to `home` (an absolute path without
// a final "/", or '') when inside it, by its last name otherwise.
function shown(file, home) {
  if (home && (file === home || file.startsWith(`${home}/`))) {
    return file.slice(home.length).replace(/^\/+/, '') || '.';
  }
  return lastName(file);
}

// The file a file: URL names, as shown(); a URL that names no local file
// by the last name of its own path.
function urlShown(url, home) {
  try {
    return shown(fileURLToPath(url), home);
  } catch {
    return lastName(url.slice('file://'.length));
  }
}

// The home, captured, where a path starts with it: followed by slashes (a
// home named with a final "/" gives the engine's paths two) or by no other
// character of a name.
function homeAlternative(home) {
  if (!home) return '';
  const escaped = home.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  return `|(?<home>${escaped}(?:/+|(?!${NAME})))`;
}

// `text` with the home `app` (an absolute path, or '' for none) and every
// other absolute path shown as a user may see them. One pass, so that a
// path made relative is never read again as part of another.
function userText(text, app) {
  if (typeof text !== 'string' || !text.includes('/')) return text;
  const home = app.startsWith('/') && app !== '/' ? app.replace(/\/+$/, '') : '';
  const paths = new RegExp(`(?<url>${FILE_URL})${homeAlternative(home)}|${OTHER_PATH}`, 'g');
  return text.replace(paths, (...match) => {
    const { url, home: inHome } = match[match.length - 1];
    if (url) return urlShown(url, home);
    if (inHome) return inHome.endsWith('/') ? '' : '.';
    return lastName(match[0]);
  });
}

module.exports = { userText };
