// A stand-in for the syntax search that records what the runners ask and
// answers from a script, so runner tests see statements and line numbers.
#ifndef ZEL_TEST_FAKES_RECORDING_SYNTAX_SEARCH_H_
#define ZEL_TEST_FAKES_RECORDING_SYNTAX_SEARCH_H_

#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct SearchCall {
  std::string selector, statement, lineNumber;
  bool operator==(const SearchCall& o) const {
    return selector == o.selector && statement == o.statement && lineNumber == o.lineNumber;
  }
};

// Lets gtest print calls readably.
void PrintTo(const SearchCall& call, std::ostream* out);

// Every call since the last clear, in order.
extern std::vector<SearchCall> searchCalls;
// The answer for a statement; by default "(TRUEZEL)echo".
extern std::function<std::string(const std::string&)> searchAnswer;

#endif  // ZEL_TEST_FAKES_RECORDING_SYNTAX_SEARCH_H_
