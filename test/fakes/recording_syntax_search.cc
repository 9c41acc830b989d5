#include "fakes/recording_syntax_search.h"

#include <memory>
#include <string>
#include <vector>

#include "syntax/syntax_search.h"

std::vector<SearchCall> searchCalls;
std::function<std::string(const std::string&)> searchAnswer =
    [](const std::string&) { return std::string("(TRUEZEL)echo"); };

SyntaxVerdict searchSyntax(const Call& call, const std::string& selector,
                           const std::string& statement) {
  searchCalls.push_back({selector, statement, std::to_string(call.line())});
  SyntaxVerdict match;
  const std::string text = searchAnswer(statement);
  // An answer the script begins with "(TRUEZEL)" stands for a form of
  // `selector` that accepted the statement and names the rest as its module.
  if (text.rfind("(TRUEZEL)", 0) == 0) {
    auto forms = std::make_shared<std::vector<SyntaxForm>>(1);
    forms->front().parameter = text.substr(9);
    forms->front().acceptance = text;
    match.accept(forms->front(), forms);
  } else {
    match.result = answer(text);
  }
  match.setSyntaxFile(selector);
  return match;
}

void PrintTo(const SearchCall& call, std::ostream* out) {
  *out << "{" << call.selector << " | " << call.statement << " | " << call.lineNumber << "}";
}
