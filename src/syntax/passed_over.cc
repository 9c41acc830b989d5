#include "syntax/syntax_search.h"

bool isPassedOver(const std::string& statement) {
  // Too short to hold a form: passed over like a comment.
  if (statement.size() < 2) return true;
  return statement.compare(0, 2, "##") == 0 || statement.compare(0, 2, "//") == 0 ||
         statement.compare(0, 2, "<-") == 0 || statement[0] == '\'';
}
