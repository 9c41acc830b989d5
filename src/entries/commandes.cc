#include "exec/statement.h"
#include "base/text.h"
#include "syntax/syntax_search.h"
#include "entries/entries.h"
#include "call/call.h"
#include "base/state.h"
#include "zel/zel.h"

std::string executeStatement(Call& call, std::string appDir, std::string statement,
                             std::string syntaxPath) {
  myAbsolutePathDirApp = appDir;
  call.setApp(std::move(appDir));
  // The module gets the statement as given, markers included.
  runDirectStatement(call, syntaxPath, statement, statement);
  return call.result();
}

namespace {

// An absolute `syntax` below <app>/node_modules/ (folded on its text) as the
// name it has there; any other text as it is (an absolute one is refused).
std::string packRelativeName(const Call& call, const std::string& syntax) {
  if (syntax.empty() || syntax[0] != '/') return syntax;
  const std::string folded = foldedPath(syntax);
  const std::string packs = foldedPath(call.packDir()) + "/";
  if (folded.compare(0, packs.size(), packs) != 0) return syntax;
  return folded.substr(packs.size());
}

}  // namespace

std::string executeNamedStatement(Call& call, std::string appDir, std::string statement,
                                  std::string syntax) {
  if (syntax == "*.*") {
    return executeStatement(call, std::move(appDir), std::move(statement), std::move(syntax));
  }
  myAbsolutePathDirApp = appDir;
  call.setApp(std::move(appDir));
  std::string path;
  if (!syntaxPathBelow(call, packRelativeName(call, syntax), path)) {
    call.store(call.message(kCannotOpen, withVisibleNul(syntax)));
    return call.result();
  }
  return executeStatement(call, call.app(), std::move(statement), std::move(path));
}

std::string CallZEL_Commandes(std::string appDir, std::string statement,
                              std::string syntaxPath) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  Call call;
  return executeStatement(call, std::move(appDir), std::move(statement), std::move(syntaxPath));
}
