'use strict';
// "say <text>": answers with the text, which becomes the result.
exports.execute = function execute(input) {
  return input.slice(input.indexOf(';') + 1).replace(/[; ]+$/, '').trim().replace(/^say\s+/, '');
};
