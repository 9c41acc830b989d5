#include "syntax/syntax_search.h"

#include "support/dir_cache.h"
#include "support/lang.h"
#include "support/text.h"
#include "syntax/syntax_match.h"
#include "zel/outcome.h"
#include "zel/state.h"

namespace {

// Tries every pack of the application in directory order until one accepts.
std::string searchAllPacks(const std::string& statement, const std::string& lineNumber) {
  myDirPath = myAbsolutePathDirApp + "/node_modules/";
  const DirListing& listing = listDirectory(myDirPath);
  if (!listing.exists) {
    resultat = goReplace(goResponseLANG("1"), ":E1:", myDirPath);
    recordMessage(1);
    return resultat;
  }
  // By index, and the entry not used after the match: a module that calls
  // back into the engine may have the directory listed afresh.
  for (size_t i = 0; i < listing.pieces.size(); ++i) {
    const std::vector<std::string>& pieces = listing.pieces[i];
    if (pieces.size() < 2) {
      resultat = goResponseLANG("20");
      recordMessage(20);
      continue;
    }
    if (pieces[1] != "zel") continue;
    const std::string pack = withoutLineBreaks(myDirPath + pieces[0] + ".zel");
    resultat = goOpenSyntaxes(pack, statement, lineNumber);
    if (lastMatch.accepted) break;
  }
  return resultat;
}

}  // namespace

std::string goVerifySyntaxesAll(std::string selector, std::string statement,
                                std::string lineNumber) {
  lastMatch.accepted = false;
  if (isPassedOver(statement)) return resultat;
  if (selector == "*.*") return searchAllPacks(statement, lineNumber);
  myDirPath = selector;
  resultat = goOpenSyntaxes(std::move(selector), std::move(statement), std::move(lineNumber));
  return resultat;
}
