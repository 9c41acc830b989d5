// Choosing the syntax files a statement is matched against.
#ifndef ZEL_SYNTAX_SYNTAX_SEARCH_H_
#define ZEL_SYNTAX_SYNTAX_SEARCH_H_

#include <string>

// True for a statement that needs no syntax: a comment (beginning with
// "##", "//", "<-" or "'") or a text shorter than two characters.
bool isPassedOver(const std::string& statement);

// Looks `statement` up and returns (and leaves in resultat) the syntax
// answer: a text holding "(TRUEZEL)" and the module name when a form
// accepted it, otherwise a message. Whether a form accepted it, which
// syntax file that was and the module it names are left in lastMatch; the
// answer's text decides nothing, since a message may quote the statement.
//
// Comment statements (beginning with "##", "//", "<-" or "'") and
// statements shorter than two characters need no syntax: resultat is
// returned unchanged and no module is asked. `selector` names one syntax
// file, used as it is, or is "*.*": then every pack (an entry "name.zel" of
// <app>/node_modules/) is tried in directory order until one accepts.
// `lineNumber` is the caller's line number in decimal.
std::string goVerifySyntaxesAll(std::string selector, std::string statement,
                                std::string lineNumber);

#endif  // ZEL_SYNTAX_SYNTAX_SEARCH_H_
