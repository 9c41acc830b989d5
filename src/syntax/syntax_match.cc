#include "syntax/syntax_match.h"

#include "syntax/form_scan.h"
#include "syntax/match_room.h"
#include "syntax/module_directory.h"
#include "syntax/syntax_forms.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string_view>

#include "compile/cipher.h"
#include "modules/module_call.h"
#include "cache/dir_listing.h"
#include "cache/disk_cache.h"
#include "lang/lang.h"
#include "base/text.h"
#include "call/call.h"
#include "base/state.h"

namespace {

// The rooms of the matches in progress, outermost first: one per level of
// matches nested through modules calling back into the engine.
// Process-wide, as the caches are: the next statement's match finds what
// the previous one looked up. Never destroyed; its entries never move.
std::deque<MatchRoom>& matchRooms = *new std::deque<MatchRoom>(1);
// The outermost room, the one nearly every match uses, without a lookup in
// the deque.
MatchRoom* const outermostRoom = &matchRooms.front();
// How many matches are in progress.
size_t matchDepth = 0;

// The room of the match in progress, for as long as it lasts.
class RoomHold {
 public:
  RoomHold() {
    if (matchDepth > 0 && matchDepth == matchRooms.size()) matchRooms.emplace_back();
    room_ = matchDepth == 0 ? outermostRoom : &matchRooms[matchDepth];
    ++matchDepth;
  }
  ~RoomHold() { --matchDepth; }
  RoomHold(const RoomHold&) = delete;
  RoomHold& operator=(const RoomHold&) = delete;
  MatchRoom& room() { return *room_; }

 private:
  MatchRoom* room_;
};

// Removes every ";", then every "(ZE)" from the scan's statement. Returns
// true when it carried a "(ZE)". `clean` tells whether the result holds no
// ";" and no "(ZE)": none of the ";" is left, but removing "(ZE)" can join
// a new one from its pieces.
bool stripStatement(FormScan& scan, bool& clean) {
  clean = true;
  std::string_view text = scan.statement;
  const void* found = std::memchr(text.data(), ';', text.size());
  const size_t semicolon = found != nullptr ? static_cast<const char*>(found) - text.data()
                                            : std::string::npos;
  if (semicolon + 1 == text.size()) {
    text.remove_suffix(1);  // the statement's own ";", the only one mostly
    scan.statement = text;
  } else if (semicolon != std::string::npos) {
    std::string& copy = scan.statementText();
    copy.erase(std::remove(copy.begin() + semicolon, copy.end(), ';'), copy.end());
    scan.statement = text = copy;
  }
  if (!holds(text, '(') || !contains(text, "(ZE)")) return false;
  std::string& copy = scan.statementText();
  copy = goReplace(std::move(copy), "(ZE)", "");
  scan.statement = copy;
  clean = !contains(copy, "(ZE)");
  return true;
}

// Strips the statement for the forms ahead (once, unless removing "(ZE)"
// joined a new one from its pieces: then before each form, as each form
// once did).
void stripForForms(FormScan& scan) {
  // What is owed was owed for the statement as it is now.
  if (scan.owing) takeOwedAnswers(scan);
  bool clean = true;
  if (stripStatement(scan, clean)) scan.statementCarriesZE = true;
  scan.wordKnown = false;
  scan.statementStripped = clean;
}

// Offers the statement to the syntax modules for one form.
void tryForm(const SyntaxForm& form, FormScan& scan) {
  scan.form = &form;
  if (scan.statementCarriesZE && form.patternCarriesZE) scan.refusedForm = true;
  if (scan.directory->allSkip && otherForm(scan)) {
    // Every module owes its answer: none is offered the form.
    if (scan.directory->pathless) scan.noExtensionSeen = true;
    scan.moduleAsked = true;
    scan.allOwed = scan.owing = true;
    scan.lastSkipped = scan.directory->lastModule;
    return;
  }
  askSyntaxModules(scan);
}

// askSyntaxModules for the forms from `form` up to `end`, while the
// directory's modules are all called directly (offersDirect): for each
// form, each module is called and its answer read, nothing else. Stops at
// the form a module accepted, or after the form in progress when a call
// evicted cache entries (a module calling back into the engine), which the
// modules' records may point to and after which `direct` may name modules
// without entries (a nested match over the same directory writes it anew):
// the rest of that form then goes the way of askSyntaxModules. Returns the
// form to try next: the accepting one when one accepted.
const SyntaxForm* offerDirect(FormScan& scan, const SyntaxForm* form, const SyntaxForm* end) {
  ModuleDirectory& directory = *scan.directory;
  noteDirectoryFacts(scan);
  scan.lastSkipped = 0;
  const DirectModule* const first = directory.direct.data();
  const DirectModule* const last = first + directory.direct.size();
  const uint64_t evictions = directory.evictionsSeen;
  const char* const outer = moduleInCall.load(std::memory_order_relaxed);
  const std::string_view statement = scan.statement;
  // No opinion, "", the answer mostly given, accepts only an empty statement.
  const bool emptyAccepts = statement.empty();
  for (; form != end; ++form) {
    scan.form = form;
    if (scan.statementCarriesZE && form->patternCarriesZE) scan.refusedForm = true;
    for (const DirectModule* module = first; module != last; ++module) {
      checkInPlace(module->entries, *module->path, outer, form->pattern, statement,
                   scan.lastAnswer);
      const bool settled = scan.lastAnswer.empty() && !emptyAccepts;
      if (settled && cache_use::evictions() == evictions) continue;
      const bool accepts = !settled && readAnswer(scan);
      if (cache_use::evictions() != evictions) {
        dropEvictedModules(directory);
        if (accepts) {
          scan.accepted = true;
        } else {
          askNamedFrom(scan, module - first + 1);
        }
        return scan.accepted ? form : form + 1;
      }
      if (accepts) {
        scan.accepted = true;
        return form;
      }
    }
  }
  return end;
}

// Offers the statement to the forms in file order until one accepts; the
// scan's form is the last one tried.
void tryForms(FormScan& scan, const std::vector<SyntaxForm>& forms) {
  const SyntaxForm* form = forms.data();
  const SyntaxForm* const end = form + forms.size();
  while (form != end) {
    if (!scan.statementStripped) stripForForms(scan);
    if (offersDirect(scan)) {
      // Form after form while the stripping holds for all of them.
      form = offerDirect(scan, form, scan.statementStripped ? end : form + 1);
    } else {
      tryForm(*form, scan);
      if (!scan.accepted) ++form;
    }
    if (scan.accepted) return;
  }
}

// The result when no syntax module accepted the statement.
Result refusalOf(const FormScan& scan) {
  const Call& call = scan.call;
  Result result;
  if (scan.markerSeen) {
    const std::string& answer = scan.lastAnswer;
    if (contains(answer, "(NM)")) {
      result = refusal(goReplace(answer, "(NM)", ""));
    } else if (contains(answer, "(LEX)")) {
      result = call.message(kLexicalError, goReplace(answer, "(LEX)", ""));
    } else if (contains(answer, "(NF)")) {
      result = call.message(kNotRecognised, std::string(scan.statement));
    } else {
      // An earlier answer carried a refusal, the last one none: the scan's
      // own text stands, with the marker the scan put in front of it.
      result = call.message(kNotAccepted);
      result.text.insert(0, "(MDNF)");
    }
  } else if (scan.noExtensionSeen) {
    result = call.message(kNotAccepted);
    result.text.insert(0, "(" + call.syntaxModuleDir() + ") ");
  } else if (scan.directoryMissing) {
    result = call.message(kFileNotFound, "./korrin_linux");
  } else {
    result = call.message(kNoSyntaxLine, std::string(scan.statement));
  }
  if (scan.refusedForm) result = call.message(kMarkedForm, scan.form->pattern);
  return result;
}

}  // namespace

SyntaxVerdict matchSyntaxFile(const Call& call, const std::string& syntaxPath,
                              const std::string& statement) {
  // One match is one statement: what it reads from disk is looked up once.
  const StatementScope scope(call.app(), StatementScope::kJoin);
  SyntaxVerdict outcome;
  RoomHold room;
  // A path holding a NUL byte is never read (the caches refuse it).
  const std::vector<SyntaxForm>* const forms =
      roomHolds(room.room(), call, syntaxPath) ? room.room().forms.get()
                                               : lookUpForms(room.room(), call, syntaxPath);
  if (forms == nullptr) {
    outcome.result = call.message(kCannotOpen, withVisibleNul(syntaxPath));
    return outcome;
  }
  FormScan scan(call, statement, room.room());
  tryForms(scan, *forms);
  if (scan.owing) takeOwedAnswers(scan);
  room.room().owedClear = true;
  outcome.moduleAsked = scan.moduleAsked;
  if (scan.accepted) {
    outcome.setSyntaxFile(syntaxPath);
    outcome.accept(*scan.form, room.room().forms);
  } else {
    outcome.result = refusalOf(scan);
  }
  outcome.lastAnswer = std::move(scan.lastAnswer);
  return outcome;
}

