// A scan of one syntax file's forms for one statement, in progress: what a
// match has found so far, and the steps that offer a form to the syntax
// modules (syntax/form_offer.cc). Only syntax_match.cc runs scans.
#ifndef ZEL_SYNTAX_FORM_SCAN_H_
#define ZEL_SYNTAX_FORM_SCAN_H_

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "call/call.h"
#include "modules/module_call.h"
#include "syntax/match_room.h"
#include "syntax/module_directory.h"
#include "syntax/syntax_forms.h"

// True when `text` holds the byte `c`. Inline, as it runs on every
// answer: most answers are short (no opinion is ""), and a loop over a few
// bytes costs less than a library call.
inline bool holds(std::string_view text, char c) {
  if (text.size() > 16) return std::memchr(text.data(), c, text.size()) != nullptr;
  for (const char byte : text) {
    if (byte == c) return true;
  }
  return false;
}

inline bool contains(std::string_view text, const char* marker) {
  return text.find(marker) != std::string_view::npos;
}

// A scan over one syntax file's forms in progress: what the match has
// found so far.
struct FormScan {
  // The room must hold the forms and the module directory (lookUp).
  FormScan(const Call& forCall, const std::string& text, MatchRoom& room)
      : call(forCall),
        statement(text),
        stripped(room.statement),
        owed(room.owed),
        directory(room.directory.get()) {
    // Left as the last match here left it, when that took every answer
    // owed (a module that threw may have left some).
    if (!room.owedClear || owed.size() != directory->modules.size()) {
      owed.assign(directory->modules.size(), nullptr);
    }
    room.owedClear = false;
  }

  // The statement as text, for what takes a string: `statement` copied
  // into `stripped` unless it is a view of it already.
  std::string& statementText() {
    if (statement.data() != stripped.data() || statement.size() != stripped.size()) {
      stripped.assign(statement.data(), statement.size());
      statement = stripped;
    }
    return stripped;
  }
  // The statement's first word, worked out at its first use.
  std::string_view word() {
    if (!wordKnown) {
      statementWord = firstWordOf(statement);
      wordKnown = true;
    }
    return statementWord;
  }

  const Call& call;
  // The statement, stripped of ";" and "(ZE)" once a line was tried: a view
  // of the caller's text while dropping its final ";" is all it takes (no
  // copy), otherwise of `stripped`, the room's copy.
  std::string_view statement;
  std::string& stripped;
  std::string_view statementWord;    // its first word, when wordKnown
  bool wordKnown = false;
  std::vector<const LoadedModule*>& owed;
  bool owing = false;                // some module owes an answer
  bool allOwed = false;              // every module does (ModuleDirectory::allSkip)
  size_t lastSkipped = 0;            // 1 + the module whose skipped form came last, or 0
  const SyntaxForm* form = nullptr;  // the latest syntax line tried
  bool accepted = false;
  bool moduleAsked = false;
  std::string lastAnswer;            // the latest syntax module answer
  // What the module directory held, as facts: the refusal is decided from
  // these, never from markers in a text a module or a user wrote.
  bool directoryMissing = false;
  bool noExtensionSeen = false;
  bool markerSeen = false;
  bool statementCarriesZE = false;
  bool refusedForm = false;
  // The statement holds no ";" and no "(ZE)" any more: stripping it again
  // for the next form would change nothing.
  bool statementStripped = false;
  // The same for every form of one statement; the room holds it.
  ModuleDirectory* directory;
};

// True when a syntax module's answer carries "(NM)", "(NF)" or "(LEX)".
inline bool carriesRefusalMarker(const std::string& answer) {
  // Most answers hold no "(" at all; one scan settles those.
  if (!holds(answer, '(')) return false;
  return containsAny(answer, {"(NM)", "(NF)", "(LEX)"});
}

// Reads the answer just given: true when it accepts the statement (only an
// answer as long as the statement can; most answers are no opinion, "",
// which carries no marker). Notes a refusal marker.
inline bool readAnswer(FormScan& scan) {
  const std::string& answer = scan.lastAnswer;
  if (answer.size() == scan.statement.size() && answer == scan.statement) return true;
  if (!answer.empty() && carriesRefusalMarker(answer)) scan.markerSeen = true;
  return false;
}

// True when the form being tried is another form than the statement's for
// a module that declares its answer for those: its first word is not the
// statement's. An empty statement has none: it is offered every form, as a
// module's answer "" (no opinion) accepts it.
inline bool otherForm(FormScan& scan) {
  const SyntaxForm& form = *scan.form;
  return !scan.statement.empty() && (form.firstWord.empty() || form.firstWord != scan.word());
}

// True when the forms ahead can be offered through offerDirect: every
// module is called directly and none owes an answer.
inline bool offersDirect(const FormScan& scan) {
  return scan.directory->allDirect && !scan.owing;
}

// Notes what the module directory tells for every form alike: passing an
// entry without extension (whether it came before an accepting module does
// not matter: only a refusal reads it), and that modules are asked.
inline void noteDirectoryFacts(FormScan& scan) {
  const ModuleDirectory& directory = *scan.directory;
  if (directory.pathless) scan.noExtensionSeen = true;
  if (!directory.named.empty()) scan.moduleAsked = true;
}

// Takes the answers owed by modules that were not offered forms, in
// directory order, as if they had been asked then: before any module is
// asked again (which may change what they answer) and when the match ends.
void takeOwedAnswers(FormScan& scan);

// Offers the statement to every syntax module for the form being tried
// (scan.form), in directory order, until one accepts (scan.accepted).
void askSyntaxModules(FormScan& scan);

// Offers the form being tried to the named modules from position `first`
// of the directory's list on, in order, until one accepts. Only an answer
// given during this match can accept: a matching answer left over from an
// earlier match does not count. A module that declares its answer for this
// form is not offered it: it owes that answer (takeOwedAnswers).
void askNamedFrom(FormScan& scan, size_t first);

#endif  // ZEL_SYNTAX_FORM_SCAN_H_
