#include "fakes/recording_syntax_search.h"

#include <string>

#include "syntax/syntax_search.h"

std::vector<SearchCall> searchCalls;
std::function<std::string(const std::string&)> searchAnswer =
    [](const std::string&) { return std::string("(TRUEZEL)echo"); };

SyntaxVerdict searchSyntax(const Call& call, const std::string& selector,
                           const std::string& statement) {
  searchCalls.push_back({selector, statement, std::to_string(call.line())});
  SyntaxVerdict match;
  match.result = answer(searchAnswer(statement));
  // An answer the script begins with "(TRUEZEL)" stands for a form of
  // `selector` that accepted the statement and names the rest as its module.
  match.accepted = match.result.text.rfind("(TRUEZEL)", 0) == 0;
  match.setSyntaxFile(selector);
  match.module = match.accepted ? match.result.text.substr(9) : "";
  return match;
}

void PrintTo(const SearchCall& call, std::ostream* out) {
  *out << "{" << call.selector << " | " << call.statement << " | " << call.lineNumber << "}";
}
