#include "syntax/syntax_search.h"

bool isPassedOver(const std::string& statement) {
  // Too short to hold a form: passed over like a comment.
  if (statement.size() < 2) return true;
  const std::string start = statement.substr(0, 2);
  return start == "##" || start == "//" || start == "<-" || statement[0] == '\'';
}
