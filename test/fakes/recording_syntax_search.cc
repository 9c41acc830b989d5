#include "fakes/recording_syntax_search.h"

#include "syntax/syntax_search.h"
#include "zel/state.h"

std::vector<SearchCall> searchCalls;
std::function<std::string(const std::string&)> searchAnswer =
    [](const std::string&) { return std::string("(TRUEZEL)echo"); };

std::string goVerifySyntaxesAll(std::string selector, std::string statement,
                                std::string lineNumber) {
  searchCalls.push_back({selector, statement, lineNumber});
  resultat = searchAnswer(statement);
  // An answer the script begins with "(TRUEZEL)" stands for a form of
  // `selector` that accepted the statement and names the rest as its module.
  lastMatch.accepted = resultat.rfind("(TRUEZEL)", 0) == 0;
  lastMatch.syntaxPath = selector;
  lastMatch.module = lastMatch.accepted ? resultat.substr(9) : "";
  return resultat;
}

void PrintTo(const SearchCall& call, std::ostream* out) {
  *out << "{" << call.selector << " | " << call.statement << " | " << call.lineNumber << "}";
}
