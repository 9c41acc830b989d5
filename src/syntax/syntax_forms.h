// The forms of a syntax file, as matches read them.
//
// A syntax file lists a pack's statement forms, one per line: a pattern,
// optionally followed by a parameter in parentheses (the module that runs
// the form), as in "print (echo)". Its forms are kept in a cache
// (cache/disk_cache.h) and read again after anything they rest on changed.
#ifndef ZEL_SYNTAX_SYNTAX_FORMS_H_
#define ZEL_SYNTAX_SYNTAX_FORMS_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Classifies a raw syntax file line. Returns true and sets `syntaxLine` when
// the line is a syntax line: enciphered lines are read back (up to their
// first ";"), line breaks and "\r" dropped; empty lines, lines holding "##",
// "==-;", "//", "<--", ":s:" or "(CURL)" are not syntax lines.
bool toSyntaxLine(const std::string& raw, std::string& syntaxLine);

// The parameter text of a syntax line: what follows its last "(", without
// " )" and ")". The whole line when it holds no "(".
std::string parameterText(const std::string& syntaxLine);

// The pattern text of a syntax line: the line without its parenthesised
// parameter (and the space before it). "(ZE)" is still in it.
std::string patternText(const std::string& syntaxLine);

// One syntax line, prepared: its parameter text, and its pattern text
// without "(ZE)" (whether it carried one is kept apart).
struct SyntaxForm {
  std::string parameter;
  std::string pattern;
  bool patternCarriesZE;
  std::string acceptance;  // "(TRUEZEL)" + parameter: the answer when the form accepts
  std::string firstWord;   // of the pattern, for modules that declare their other-form answer
};

// The first word of `text`: what lies between its leading blanks (space,
// \t, \n, \v, \f, \r) and the next blank (zel_module.h, zelOtherFormAnswer).
// A byte test per character instead of a search of the blank set: this runs
// once per statement.
inline bool isBlankByte(char c) {
  return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t';
}
inline std::string_view firstWordOf(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && isBlankByte(text[start])) ++start;
  size_t end = start;
  while (end < text.size() && !isBlankByte(text[end])) ++end;
  return text.substr(start, end - start);
}

// The forms of the syntax file at `path` (of the application `app`), read
// afresh unless the cached ones are still valid. Null when the file cannot
// be opened. Shared, so that a match keeps the forms it goes through.
// `lasting`, when given, is set to whether they are kept for the current
// disk generation (false: read without watches, to be read again).
using SharedForms = std::shared_ptr<const std::vector<SyntaxForm>>;
SharedForms syntaxForms(const std::string& app, const std::string& path,
                        bool* lasting = nullptr);

#endif  // ZEL_SYNTAX_SYNTAX_FORMS_H_
