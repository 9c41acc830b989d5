'use strict';
// "say <text>": answers with the text, which becomes the result. The text is
// the user's: when it is the stop answer, which would end the run (and under
// the classic exports the host), a note is said instead.
const STOP_ANSWER = '<<zel:stop-program:7c1e>>';

exports.execute = function execute(input) {
  // The statement as the C++ twin reads it: final ";" and spaces, and
  // leading spaces, taken off; the text is what follows "say ".
  const text = input.slice(input.indexOf(';') + 1).replace(/[; ]+$/, '').replace(/^ +/, '').slice(4);
  return text === STOP_ANSWER ? 'say: that text is the stop answer, which only stop gives' : text;
};
