// Choosing the syntax files a statement is matched against.
#ifndef ZEL_SYNTAX_SYNTAX_SEARCH_H_
#define ZEL_SYNTAX_SYNTAX_SEARCH_H_

#include <string>

#include "syntax/syntax_match.h"

// True for a statement that needs no syntax: a comment (beginning with
// "##", "//", "<-" or "'") or a text shorter than two characters (too
// short to hold a form). Asked for every statement, before anything else.
inline bool isPassedOver(const std::string& statement) {
  if (statement.size() < 2) return true;
  const char first = statement[0];
  const char second = statement[1];
  return (first == '#' && second == '#') || (first == '/' && second == '/') ||
         (first == '<' && second == '-') || first == '\'';
}

// Looks `statement` up for the call's application and returns what was
// decided: whether a form accepted it, which syntax file that was and the
// module it names, never read from a text (a message may quote what a user
// wrote). `selector` names one syntax file, used as it is, or is "*.*":
// then every pack (an entry "name.zel" of <app>/node_modules/) is tried in
// directory order until one accepts; when none does, the result is the last
// pack's, or message 20 when an entry without an extension came after it,
// or message 1 when node_modules is missing. A statement that is passed
// over asks nothing (result empty, passedOver set).
SyntaxVerdict searchSyntax(const Call& call, const std::string& selector,
                           const std::string& statement);

// The syntax file that `name`, a text from outside the application's own
// code (a program's header, a declaration typed into the command line, a
// pack named to exec), names below <app>/node_modules/: `name` folded on
// its text, so that the kernel never resolves a ".." from the target of a
// link. False when the folded name is absolute, holds a NUL byte or leaves
// node_modules.
bool syntaxPathBelow(const Call& call, const std::string& name, std::string& path);

#endif  // ZEL_SYNTAX_SYNTAX_SEARCH_H_
