// A syntax module that declares its answer for forms that cannot be the
// statement's is offered only the others, and every result, refusal,
// message and last answer stays that of asking it. Two applications, alike
// but for the declaration, run the same statements in the same order.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_app.h"
#include "entries/entries.h"
#include "entries/recorded_call.h"
#include "base/state.h"

namespace {

using Seen = std::tuple<std::string, std::string, int, bool>;

// The syntax modules `fixtures` as m0.so, m1.so...; the calculator's forms
// and some edges: no word, leading blanks, "(ZE)".
void layOut(const TestApp& app, const std::vector<std::string>& fixtures) {
  for (size_t i = 0; i < fixtures.size(); ++i) {
    app.install(fixtures[i], "node_modules/korrin_linux/m" + std::to_string(i) + ".so");
  }
  for (const char* name : {"say", "vars", "stop"}) app.installPackModule("calc", "echo_module", name);
  app.syntaxFile("calc", "say <text> (say)\nset <name> to <number> (vars)\n(say)\n"
                         "add <number> to <name> (vars)\n  show <name> (vars)\n"
                         "mark(ZE) <text> (say)\nstop <text> (stop)\n");
}

Seen ask(const TestApp& app, const std::string& statement) {
  std::atomic<bool> cancel{false};
  lineSyntaxesExistLib.clear();
  Outcome o = recordedCall(cancel, false, [&](Call& c) {
    return executeStatement(c, app.path(), statement, app.modules() + "calc.zel");
  });
  const size_t at = o.result.find(app.path());  // a module's input names the application
  if (at != std::string::npos) o.result.replace(at, app.path().size(), "<app>");
  return {o.result, lineSyntaxesExistLib, o.message, o.failed};
}

TEST(FormSkip, DeclaredAnswersLeaveEveryOutcomeAsAsking) {
  const std::vector<std::string> statements = {
      "set width to 7;", "set width to x;", "add ten to subtotal;", "frobnicate now;",
      "set width to x;", "   say   hi;", "\tsay\thi;", "say;", "show;", "mark(ZE) this;",
      "stop now;;", "add 1 to;", "say hi; there;", "(ZE)set width to 2;", "(Z(ZE)E)set width to 2;", "lex it;", "nm it;", "set;", "add;",
      "frob(ZE) now;", ";;"};
  // Each row: the modules of one application, then their twins that
  // declare nothing.
  const std::vector<std::vector<std::vector<std::string>>> setups = {
      {{"sample_forms"}, {"forms_undeclared"}},
      {{"sample_forms", "keyword_syntax"}, {"forms_undeclared", "keyword_syntax"}},
      {{"refusing_syntax"}, {"refusing_undeclared"}}};
  for (const auto& setup : setups) {
    TestApp declared, asked;
    layOut(declared, setup[0]);
    layOut(asked, setup[1]);
    for (const std::string& statement : statements) {
      EXPECT_EQ(ask(declared, statement), ask(asked, statement)) << statement << " / " << setup[0][0];
    }
  }
}

}  // namespace
