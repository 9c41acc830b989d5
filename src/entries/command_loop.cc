#include "entries/command_loop.h"

#include <algorithm>
#include <iostream>

#include "exec/statement.h"
#include "base/markers.h"
#include "base/text.h"
#include "syntax/syntax_search.h"
#include "base/state.h"
#include "zel/zel.h"

namespace {

// What separates words, as ">>" reads them in the C locale.
constexpr const char* kWhiteSpace = " \t\n\v\f\r";

}  // namespace

bool StatementCutter::add(const std::string& word, std::string& statement) {
  if (word.find(';') == std::string::npos) {
    buffer_ += word;
    buffer_ += ' ';
    return false;
  }
  statement = goReplace(buffer_ + word, " ;", ";");
  buffer_.clear();
  return true;
}

void StatementCutter::addText(const std::string& text, std::vector<std::string>& statements) {
  std::string word;
  std::string statement;
  for (size_t at = 0; at < text.size();) {
    const size_t start = text.find_first_not_of(kWhiteSpace, at);
    if (start == std::string::npos) break;
    const size_t end = std::min(text.find_first_of(kWhiteSpace, start), text.size());
    word.assign(text, start, end - start);
    if (add(word, statement)) statements.push_back(statement);
    at = end;
  }
}

std::string declaredSyntaxPath(const std::string& app, std::string declaration) {
  const std::string name = declaredName(std::move(declaration), true);
  if (containsAny(name, {"/", "\\"})) return name;
  return app + "/node_modules/" + name;
}

Declaration replDeclaration(const std::string& app, const std::string& statement,
                            std::string& text) {
  if (!isDeclaration(statement)) return Declaration::kNone;
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  Call call;
  call.setApp(app);
  const std::string name = declaredName(statement, true);
  if (syntaxPathBelow(call, name, text)) return Declaration::kConfined;
  text = call.message(kCannotOpen, withVisibleNul(name)).text;
  return Declaration::kRefused;
}

std::string CallCMD(std::string syntaxPath) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  // The application of the latest Executer or Commandes call.
  Call call;
  call.setApp(myAbsolutePathDirApp);
  StatementCutter cutter;
  std::string word;
  std::string statement;
  while (std::cin >> word) {
    if (!cutter.add(word, statement)) continue;
    if (isDeclaration(statement)) {
      syntaxPath = declaredSyntaxPath(call.app(), statement);
      continue;
    }
    runDirectStatement(call, syntaxPath, statement, withoutStatementMarkers(statement));
    if (call.holdsBackFirstResult && FirstResponse.empty()) {
      FirstResponse = call.takeResult();
    }
  }
  return cutter.pending();
}
