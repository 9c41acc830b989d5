#include "syntax/syntax_match.h"

#include <dirent.h>

#include <fstream>

#include "compile/cipher.h"
#include "modules/module_call.h"
#include "support/lang.h"
#include "support/text.h"
#include "zel/state.h"

namespace {

bool contains(const std::string& text, const char* marker) {
  return text.find(marker) != std::string::npos;
}

// What one syntax file match has found so far.
struct Match {
  std::string statement;  // stripped of ";" and "(ZE)" once a line was tried
  std::string parameter;  // of the latest syntax line
  std::string pattern;    // of the latest syntax line, for message 14
  bool accepted = false;
  bool markerSeen = false;
  bool statementCarriesZE = false;
  bool refusedForm = false;
};

// Offers the statement to every syntax module for one pattern, in directory
// order, until one accepts. Only an answer given during this match can
// accept: a matching answer left over from an earlier match does not count.
void askSyntaxModules(Match& match) {
  const std::string moduleDir = myAbsolutePathDirApp + "/node_modules/korrin_linux/";
  if (!IsPathExist(moduleDir)) {
    resultat = "(MDLIB)" + goReplace(goResponseLANG("4"), ":E1:", "./korrin_linux");
    return;
  }
  DIR* dir = opendir(moduleDir.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const std::vector<std::string> pieces = entryNamePieces(entry->d_name);
    if (pieces.size() < 2) {
      resultat = "(MDNF)" + goResponseLANG("19");
      continue;
    }
    if (pieces[1] != "so") continue;
    const std::string path = withoutLineBreaks(moduleDir + pieces[0] + ".so");
    lineSyntaxesExistLib = callLibModule(path, match.pattern, match.statement);
    if (containsAny(lineSyntaxesExistLib, {"(NM)", "(NF)", "(LEX)"})) {
      match.markerSeen = true;
    }
    if (lineSyntaxesExistLib == match.statement) {
      match.accepted = true;
      break;
    }
  }
  closedir(dir);
}

// Prepares one syntax line and offers it to the syntax modules.
void trySyntaxLine(const std::string& syntaxLine, Match& match) {
  match.parameter = parameterText(syntaxLine);
  std::string pattern = patternText(syntaxLine);
  match.statement = goReplace(std::move(match.statement), ";", "");
  if (contains(match.statement, "(ZE)")) match.statementCarriesZE = true;
  if (match.statementCarriesZE && contains(pattern, "(ZE)")) match.refusedForm = true;
  match.pattern = goReplace(std::move(pattern), "(ZE)", "");
  match.statement = goReplace(std::move(match.statement), "(ZE)", "");
  askSyntaxModules(match);
}

// The result when no syntax module accepted the statement.
void decideRefusal(const Match& match) {
  if (match.markerSeen) {
    const std::string& answer = lineSyntaxesExistLib;
    if (contains(answer, "(NM)")) {
      resultat = goReplace(answer, "(NM)", "");
    } else if (contains(answer, "(LEX)")) {
      resultat = goReplace(goResponseLANG("2"), ":E1:", goReplace(answer, "(LEX)", ""));
    } else if (contains(answer, "(NF)")) {
      resultat = goReplace(goResponseLANG("3"), ":E1:", match.statement);
    }
  } else if (contains(resultat, "(MDNF)")) {
    resultat = goReplace(resultat, "(MDNF)",
                         "(" + myAbsolutePathDirApp + "/node_modules/korrin_linux/) ");
  } else if (contains(resultat, "(MDLIB)")) {
    resultat = goReplace(resultat, "(MDLIB)", "");
  } else {
    resultat = goReplace(goResponseLANG("18"), ":E1:", match.statement);
  }
  if (match.refusedForm) {
    resultat = goReplace(goResponseLANG("14"), ":E1:", match.pattern);
  }
}

}  // namespace

std::vector<std::string> entryNamePieces(const std::string& name) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= name.size()) {
    size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    if (dot > start) pieces.push_back(name.substr(start, dot - start));
    start = dot + 1;
  }
  return pieces;
}

bool toSyntaxLine(const std::string& raw, std::string& syntaxLine) {
  if (raw.empty() || containsAny(raw, {"##", "==-;", "\n\t"})) return false;
  syntaxLine = hasCipherMarker(raw) ? decipherStatement(raw) : raw;
  syntaxLine = withoutLineBreaks(std::move(syntaxLine));
  return !containsAny(syntaxLine, {"##", "//", "<--", ":s:", "(CURL)"});
}

std::string parameterText(const std::string& syntaxLine) {
  return goReplace(goReplace(MyLastIndexOfParam(syntaxLine), " )", ""), ")", "");
}

std::string patternText(const std::string& syntaxLine) {
  const std::string raw = MyLastIndexOfParam(syntaxLine);
  std::string pattern = goReplace(syntaxLine, " (" + raw, "");
  pattern = goReplace(std::move(pattern), "(" + raw, "");
  pattern = goReplace(std::move(pattern), raw + " )", "");
  return goReplace(std::move(pattern), raw + ")", "");
}

std::string goOpenSyntaxes(std::string syntaxPath, std::string statement,
                           std::string /*lineNumber*/) {
  std::ifstream file(syntaxPath, std::ios::in | std::ios::binary);
  if (!file.is_open()) {
    resultat = goReplace(goResponseLANG("1"), ":E1:", syntaxPath);
    return resultat;
  }
  Match match;
  match.statement = std::move(statement);
  std::string syntaxLine;
  while (!match.accepted && std::getline(file, lineSyntaxesExist)) {
    if (toSyntaxLine(lineSyntaxesExist, syntaxLine)) trySyntaxLine(syntaxLine, match);
  }
  if (match.accepted) {
    resultat = "(TRUEZEL)" + match.parameter;
  } else {
    decideRefusal(match);
  }
  return resultat;
}
