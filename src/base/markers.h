// The markers a program, a syntax file or a statement carries, and what
// each tells its reader. Every reader asks these predicates, so a marker's
// meaning is written here only.
//
//   "##", "==-;", "\n\t"  a line passed over (a comment, an encoded file's
//                         trailer, a broken line)
//   ":s:"                 a line naming a syntax file: a program's header, a
//                         command loop declaration
//   "(CZEL)"              a compiled program's header; left out of the text
//                         of a statement or a name
//   "(CURL)"              a command loop declaration
//   "(ZE)"                a marked statement or form
//   "//", "<--"           a remark in a syntax file
#ifndef ZEL_BASE_MARKERS_H_
#define ZEL_BASE_MARKERS_H_

#include <string>

#include "base/text.h"

// A line every reader passes over: it holds "##", "==-;" or "\n\t".
inline bool isPassedOverLine(const std::string& line) {
  return containsAny(line, {"##", "==-;", "\n\t"});
}

// A plain program's line the runners pass over: as above, or a header line
// holding ":s:".
inline bool isSkippedProgramLine(const std::string& line) {
  return containsAny(line, {"##", "==-;", "\n\t", ":s:"});
}

// A program's header: the first line holding ":s:" or "(CZEL)".
inline bool isHeaderLine(const std::string& line) { return containsAny(line, {":s:", "(CZEL)"}); }

// A command loop statement that names a syntax file: it holds ":s:" or
// "(CURL)".
inline bool isDeclaration(const std::string& statement) {
  return containsAny(statement, {":s:", "(CURL)"});
}

// A syntax file's (decoded) line that holds no form: a remark ("##", "//",
// "<--") or a declaration.
inline bool isSyntaxRemark(const std::string& syntaxLine) {
  return containsAny(syntaxLine, {"##", "//", "<--", ":s:", "(CURL)"});
}

// What a header or a declaration names: its text without "(CZEL)", ":s:",
// then (for a declaration only) "(CURL)", and ";".
std::string declaredName(std::string text, bool declaration);

#endif  // ZEL_BASE_MARKERS_H_
