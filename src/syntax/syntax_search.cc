#include "syntax/syntax_search.h"

#include "cache/dir_listing.h"
#include "base/text.h"
#include "base/state.h"

namespace {

// Tries every pack of the application in directory order until one accepts.
SyntaxVerdict searchAllPacks(const Call& call, const std::string& statement) {
  myDirPath = call.packDir();
  SyntaxVerdict match;
  const DirListing& listing = listDirectory(call.app(), call.packDir());
  if (!listing.exists) {
    match.result = call.message(kCannotOpen, call.packDir());
    return match;
  }
  // A directory that cannot be listed leaves the result as it was, and the
  // statement cannot run.
  if (!listing.opened) {
    match.result = refusal(call.result());
    return match;
  }
  // By index, and the entry not used after the match: a module that calls
  // back into the engine may have the directory listed afresh.
  const std::string& dir = call.packDir();
  for (size_t i = 0; i < listing.pieces.size(); ++i) {
    const std::vector<std::string>& pieces = listing.pieces[i];
    if (pieces.size() < 2) {
      match.result = call.message(kNoExtension);
      continue;
    }
    if (pieces[1] != "zel") continue;
    const std::string pack = withoutLineBreaks(dir + pieces[0] + ".zel");
    SyntaxVerdict tried = matchSyntaxFile(call, pack, statement);
    if (tried.accepted) tried.keepSyntaxFile(pack);
    // The last module answer carries over from one pack to the next.
    if (!tried.moduleAsked && match.moduleAsked) {
      tried.moduleAsked = true;
      tried.lastAnswer = std::move(match.lastAnswer);
    }
    match = std::move(tried);
    if (match.accepted) break;
  }
  return match;
}

}  // namespace

SyntaxVerdict searchSyntax(const Call& call, const std::string& selector,
                           const std::string& statement) {
  if (isPassedOver(statement)) {
    SyntaxVerdict match;
    match.passedOver = true;
    return match;
  }
  if (selector.size() == 3 && selector == "*.*") return searchAllPacks(call, statement);
  // The classic state names the file searched; a run searches the same one.
  if (myDirPath != selector) myDirPath = selector;
  return matchSyntaxFile(call, selector, statement);
}

bool syntaxPathBelow(const Call& call, const std::string& name, std::string& path) {
  const std::string folded = foldedPath(name);
  if (!staysBelow(folded)) return false;
  path = call.packDir() + folded;
  return true;
}

