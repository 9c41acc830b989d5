'use strict';
// What to do about a module that does not load: advice for the failure texts
// of the loader (dlopen, dlsym) and of the engine's module calls, shared by
// "zel check", "zel add-pack" and the reports of "zel run" and "zel exec".
const { addon } = require('./common');

const exportsAdvice = 'end its source with ZEL_EXPORT_MODULE(Class) for a pack module or ' +
  'ZEL_EXPORT_SYNTAX_MODULE(Class) for a syntax module (zel_module.h), which export both';

const buildAdvice = 'build the module and install its pack with "zel add-pack", or correct the ' +
  'module named in parentheses at the end of the form';

// [pattern of the loader's failure text, advice], the first match wins.
const loaderHints = [
  [/undefined symbol: (create|destroy)\b.*C\+\+ name/,
    'the engine looks up "create" and "destroy" by their C names: declare them extern "C", or ' + exportsAdvice],
  [/undefined symbol: (create|destroy)$/m,
    `a module exports the C functions "create" and "destroy": ${exportsAdvice} ` +
    '(written by hand, they need extern "C" and default visibility)'],
  [/undefined symbol: /,
    'the module uses a symbol that nothing loaded defines: link the library that defines it ' +
    'into the module (target_link_libraries), or define it'],
  [/invalid ELF header|file too short|wrong ELF class|ELF file|not a dynamic/,
    'this file is not a shared object for linux-x64: build it with zel_add_module ' +
    '(cmake/ZelModule.cmake) and install it with "zel add-pack"'],
  [/create\(\) (threw|returned no object)/,
    'create() must return a new object of the module\'s class: ZEL_EXPORT_MODULE(Class) writes it ' +
    'for a class whose default constructor does not throw'],
  [/cannot open shared object file/, buildAdvice],
];

// Advice for a failure the engine reports with a message of its catalogue,
// by the message's name (the engine's numbers come through the add-on), so
// that it holds in every language: fileNotFound is a module file that
// cannot be opened, its path last in the text.
const messageHints = {
  fileNotFound: (text) => (/\/[^/]*[<> ][^/]*\.so"?$/.test(text)
    // The engine takes a whole form for its module when the form has no "(module)".
    ? 'the form that accepted the statement names no module: end its line in the .zel file with ' +
      'the module that runs it in parentheses ("zel check" names the line)'
    : buildAdvice),
};

// The line of advice to print after the failure text `text` whose catalogue
// message is `message` (null for a text that is not one: a loader's
// "...: undefined symbol: create", say), or null when there is none.
function hintFor(text, message = null) {
  if (typeof text !== 'string') throw new TypeError('hintFor needs a failure text');
  if (message !== null) {
    const { messages } = addon();
    const name = Object.keys(messages).find((key) => messages[key] === message);
    return Object.hasOwn(messageHints, name) ? messageHints[name](text) : null;
  }
  const found = loaderHints.find(([pattern]) => pattern.test(text));
  return found ? found[1] : null;
}

module.exports = { hintFor };
