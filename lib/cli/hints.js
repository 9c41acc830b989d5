'use strict';
// What to do about a module that does not load: advice for the failure texts
// of the loader (dlopen, dlsym) and of the engine's module calls, shared by
// "zel check", "zel add-pack" and the reports of "zel run" and "zel exec".

const exportsAdvice = 'end its source with ZEL_EXPORT_MODULE(Class) for a pack module or ' +
  'ZEL_EXPORT_SYNTAX_MODULE(Class) for a syntax module (zel_module.h), which export both';

// [pattern of the failure text, advice], the first match wins.
const hints = [
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
  // The engine takes a whole form for its module when the form has no "(module)".
  [/File not found: .*\/[^/]*[<> ][^/]*\.so"?$/m,
    'the form that accepted the statement names no module: end its line in the .zel file with ' +
    'the module that runs it in parentheses ("zel check" names the line)'],
  [/\.so"?: file not found|File not found: .*\.so"?$|cannot open shared object file/m,
    'build the module and install its pack with "zel add-pack", or correct the module named ' +
    'in parentheses at the end of the form'],
];

// The line of advice to print after the failure text `text` (a loader's
// "...: undefined symbol: create", say), or null when there is none.
function hintFor(text) {
  if (typeof text !== 'string') throw new TypeError('hintFor needs a failure text');
  const found = hints.find(([pattern]) => pattern.test(text));
  return found ? found[1] : null;
}

module.exports = { hintFor };
