// A syntax module that declares its answer for forms whose first word is not
// the statement's is offered only the other forms: the results, refusal
// texts, messages and the last answer kept stay those of asking it every
// form. Two applications, alike but for that declaration, run the same
// statements in the same order (the module remembers its complaints).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "support/test_app.h"
#include "zel/entries.h"
#include "zel/outcome.h"
#include "zel/state.h"

namespace {

// The calculator's forms, and some that test the edges: a form with no
// word, one that begins with blanks, one carrying "(ZE)".
const char* kForms =
    "say <text> (say)\nset <name> to <number> (vars)\nadd <number> to <name> (vars)\n"
    "(say)\n  show <name> (vars)\nmark(ZE) <text> (say)\nstop <text> (stop)\n";

struct Seen {
  std::string result, lastAnswer;
  int message;
  bool failed;
  bool operator==(const Seen& o) const {
    return result == o.result && lastAnswer == o.lastAnswer && message == o.message &&
           failed == o.failed;
  }
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << "[" << s.result << "] message " << s.message << (s.failed ? " failed" : "")
             << " last [" << s.lastAnswer << "]";
}

// An application whose syntax modules are `fixtures`, installed as m0.so,
// m1.so and so on.
void layOut(const TestApp& app, const std::vector<std::string>& fixtures) {
  for (size_t i = 0; i < fixtures.size(); ++i) {
    app.install(fixtures[i], "node_modules/korrin_linux/m" + std::to_string(i) + ".so");
  }
  for (const char* name : {"say", "vars", "stop"}) app.installPackModule("calc", "echo_module", name);
  app.syntaxFile("calc", kForms);
}

Seen ask(const TestApp& app, const std::string& statement) {
  std::atomic<bool> cancel{false};
  lineSyntaxesExistLib.clear();
  const Outcome outcome = runCall(cancel, false, [&](Call& c) {
    return executeStatement(c, app.path(), statement, app.modules() + "calc.zel");
  });
  // A module's input names the application, which differs.
  std::string result = outcome.result;
  const size_t at = result.find(app.path());
  if (at != std::string::npos) result.replace(at, app.path().size(), "<app>");
  return {result, lineSyntaxesExistLib, outcome.message, outcome.failed};
}

TEST(FormSkip, DeclaredAnswersLeaveEveryOutcomeAsAsking) {
  const std::vector<std::string> statements = {
      "set width to 7;", "set width to x;", "add ten to subtotal;", "frobnicate now;",
      "set width to x;", "   say   hi;", "say;", "show;", "mark(ZE) this;", "stop now;;",
      "set width to 7 8;", "add 1 to;", "say hi; there;", "(ZE)set width to 2;", "lex it;",
      "nm it;", "stop;"};
  // Each row: the modules of one application, then of the other, where
  // each declaring module is its twin that declares nothing.
  const std::vector<std::vector<std::vector<std::string>>> setups = {
      {{"sample_forms"}, {"forms_undeclared"}},
      {{"sample_forms", "keyword_syntax"}, {"forms_undeclared", "keyword_syntax"}},
      {{"refusing_syntax"}, {"refusing_undeclared"}},
      {{"keyword_syntax", "refusing_syntax", "sample_forms"},
       {"keyword_syntax", "refusing_undeclared", "forms_undeclared"}}};
  for (const auto& setup : setups) {
    TestApp declaredApp, askedApp;
    layOut(declaredApp, setup[0]);
    layOut(askedApp, setup[1]);
    for (const std::string& statement : statements) {
      EXPECT_EQ(ask(declaredApp, statement), ask(askedApp, statement))
          << statement << " with " << setup[0].size() << " module(s)";
    }
  }
}

}  // namespace
