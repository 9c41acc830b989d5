'use strict';
// Variables of the calculator pack, in JavaScript: "set", "add",
// "multiply" and "show". Each answers with the variable's value. A number
// typed or computed beyond the range of a double (about 1.8e308 either
// way) is refused with a text that says so, and the variable keeps its
// value, as the C++ twin does.
//
// The values live on `call`, the object the engine passes for one promise,
// pool or queue call (one for the whole process under the classic
// exports): two callers never see each other's variables. Anything kept at
// module level lasts for the whole process instead.

// The statement: what follows the first ";", without final ";" and spaces.
function statementOf(input) {
  return input.slice(input.indexOf(';') + 1).replace(/[; ]+$/, '').trim();
}

// A number as C's "%.15g" writes it, so that this pack answers exactly as
// its C++ twin does.
function g15(value) {
  if (!Number.isFinite(value)) return Number.isNaN(value) ? 'nan' : value > 0 ? 'inf' : '-inf';
  const strip = (digits) => (digits.includes('.') ? digits.replace(/\.?0+$/, '') : digits);
  const [mantissa, exponent] = value.toExponential(14).split('e');
  const power = Number(exponent);
  if (power < -4 || power >= 15) {
    const sign = power < 0 ? '-' : '+';
    return `${strip(mantissa)}e${sign}${String(Math.abs(power)).padStart(2, '0')}`;
  }
  return strip(value.toFixed(14 - power));
}

const valueText = (name, value) => `${name} = ${Object.is(value, -0) ? '-0' : g15(value)}`;

// A number word as strtod reads it: Number() does not take a hexadecimal
// fraction or exponent ("0x1.8p1").
function numberOf(word) {
  const hex = /^([+-]?)0x([0-9a-f]*)\.?([0-9a-f]*)(?:p([+-]?\d+))?$/i.exec(word);
  if (!hex || (!hex[3] && hex[4] === undefined)) return Number(word);
  const digits = parseInt(`${hex[2]}${hex[3]}` || '0', 16) / 16 ** hex[3].length;
  return (hex[1] === '-' ? -1 : 1) * digits * 2 ** Number(hex[4] || 0);
}

const OUT_OF_RANGE = " is out of range: the calculator's numbers go from about -1.8e308 to 1.8e308";

// The answer refusing the number `word` reads as (`value`), or '' when it
// is one the calculator holds (a finite one).
function refusalOf(word, value) {
  if (Number.isNaN(value)) return `"${word}" is not a number`;
  return Number.isFinite(value) ? '' : `"${word}"${OUT_OF_RANGE}`;
}

// Sets the variable `name` to `value`, unless `value` is out of range.
function assign(variables, name, value) {
  if (!Number.isFinite(value)) return `the new value of ${name}${OUT_OF_RANGE}`;
  variables.set(name, value);
  return valueText(name, value);
}

exports.execute = function execute(input, call) {
  const [verb, a, , b] = statementOf(input).split(/[ \t\n\v\f\r]+/);
  const variables = call.variables || (call.variables = new Map());
  if (verb === 'set') {                             // set x to 1
    const number = numberOf(b);
    return refusalOf(b, number) || assign(variables, a, number);
  }
  const name = verb === 'add' ? b : a;              // add 1 to x; multiply x by 2; show x
  if (!variables.has(name)) return `unknown variable ${name}`;
  const value = variables.get(name);
  if (verb === 'show') return valueText(name, value);
  const word = verb === 'add' ? a : b;
  const number = numberOf(word);
  return refusalOf(word, number) || assign(variables, name, verb === 'add' ? value + number : value * number);
};
