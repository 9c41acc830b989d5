#include "syntax/syntax_match.h"

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

// True when `text` holds the byte `c`. Inline, as it runs on every
// answer: most answers are short (no opinion is ""), and a loop over a few
// bytes costs less than a library call.
bool holds(std::string_view text, char c) {
  if (text.size() > 16) return std::memchr(text.data(), c, text.size()) != nullptr;
  for (const char byte : text) {
    if (byte == c) return true;
  }
  return false;
}

bool contains(std::string_view text, const char* marker) {
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
    if (owed.size() == directory->modules.size()) {
      std::fill(owed.begin(), owed.end(), nullptr);
    } else {
      owed.assign(directory->modules.size(), nullptr);
    }
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

// True when a syntax module's answer carries "(NM)", "(NF)" or "(LEX)".
bool carriesRefusalMarker(const std::string& answer) {
  // Most answers hold no "(" at all; one scan settles those.
  if (!holds(answer, '(')) return false;
  return containsAny(answer, {"(NM)", "(NF)", "(LEX)"});
}

// What the match reads as the answer of a syntax module that cannot be
// opened: message 4 naming it. (One the loader refuses answers with the
// loader's text.)
std::string unreadableText(const FormScan& scan, const std::string& path) {
  return scan.call.message(kFileNotFound, withVisibleNul(path)).text;
}

// Takes the answers owed by modules that were not offered forms, in
// directory order, as if they had been asked then: before any module is
// asked again (which may change what they answer) and when the match ends.
void takeOwedAnswers(FormScan& scan) {
  scan.owing = false;
  if (scan.allOwed) {
    // Set only while every module's entry is held (allSkip).
    for (size_t i = 0; i < scan.owed.size(); ++i) {
      scan.owed[i] = scan.directory->modules[i].loaded;
    }
    scan.allOwed = false;
  }
  for (size_t i = 0; i < scan.owed.size(); ++i) {
    const LoadedModule* loaded = scan.owed[i];
    if (loaded == nullptr) continue;
    scan.owed[i] = nullptr;
    const std::string& path = scan.directory->modules[i].path;
    std::string answer = otherFormAnswer(*loaded, path, scan.statementText());
    if (carriesRefusalMarker(answer)) scan.markerSeen = true;
    if (scan.lastSkipped == i + 1) scan.lastAnswer = std::move(answer);
  }
}

// True when the form being tried is another form than the statement's for
// a module that declares its answer for those: its first word is not the
// statement's. An empty statement has none: it is offered every form, as a
// module's answer "" (no opinion) accepts it.
bool otherForm(FormScan& scan) {
  const SyntaxForm& form = *scan.form;
  return !scan.statement.empty() && (form.firstWord.empty() || form.firstWord != scan.word());
}

// True when `module` need not be offered the form being tried: it declares
// its answer for other forms.
bool skipsForm(const SyntaxModule& module, FormScan& scan) {
  return module.skipsOtherForms && otherForm(scan);
}

// Asks `module` about the form being tried, into the
// scan's last answer. The directory entry lives for one generation, as a
// cached module's does; one that could not be cached is looked up for
// every call.
void askOne(FormScan& scan, ModuleDirectory& directory, SyntaxModule& module) {
  if (module.entries.create != nullptr) {
    askThroughEntries(module.entries, module.path, scan.form->pattern, scan.statement,
                      scan.lastAnswer);
    return;
  }
  const LoadedModule* loaded = module.loaded;
  if (loaded == nullptr) {
    loaded = &loadedModule(scan.call.app(), module.path);
    dropEvictedModules(directory);  // the lookup may have evicted others
    if (isCached(*loaded)) {
      module.loaded = loaded;
      module.skipsOtherForms = declaresOtherFormAnswer(*loaded);
      module.entries = syntaxEntries(*loaded);
      updateAllSkip(directory);
    }
  }
  if (askSyntaxModule(*loaded, module.path, scan.form->pattern, scan.statementText(),
                      scan.lastAnswer) == ModuleAnswer::kUnreadable) {
    scan.lastAnswer = unreadableText(scan, module.path);
  }
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

// Offers the form being tried to the named modules from position `first`
// of the directory's list on, in order, until one accepts. Only an answer
// given during this match can accept: a matching answer left over from an
// earlier match does not count. A module that declares its answer for this
// form is not offered it: it owes that answer (takeOwedAnswers).
void askNamedFrom(FormScan& scan, size_t first) {
  ModuleDirectory& directory = *scan.directory;
  // Entries change during the match, the lists never do: their start and
  // length are read once, not after every module call.
  SyntaxModule* const modules = directory.modules.data();
  const size_t* const named = directory.named.data();
  const size_t count = directory.named.size();
  for (size_t position = first; position < count; ++position) {
    const size_t i = named[position];
    SyntaxModule& module = modules[i];
    if (skipsForm(module, scan)) {
      scan.owed[i] = module.loaded;
      scan.owing = true;
      scan.lastSkipped = i + 1;
      continue;
    }
    if (scan.owing) takeOwedAnswers(scan);
    scan.lastSkipped = 0;
    askOne(scan, directory, module);
    // A module that called back into the engine may have had entries the
    // directory points to evicted (mostly nothing was: one comparison).
    if (directory.evictionsSeen != cache_use::evictions()) dropEvictedModules(directory);
    if (readAnswer(scan)) {
      scan.accepted = true;
      return;
    }
  }
}

// Notes what the module directory tells for every form alike: passing an
// entry without extension (whether it came before an accepting module does
// not matter: only a refusal reads it), and that modules are asked.
void noteDirectoryFacts(FormScan& scan) {
  const ModuleDirectory& directory = *scan.directory;
  if (directory.pathless) scan.noExtensionSeen = true;
  if (!directory.named.empty()) scan.moduleAsked = true;
}

// Offers the statement to every syntax module for the form being tried, in
// directory order, until one accepts.
void askSyntaxModules(FormScan& scan) {
  if (scan.directory->missing) {
    scan.directoryMissing = true;
    return;
  }
  noteDirectoryFacts(scan);
  askNamedFrom(scan, 0);
}

// True when the forms ahead can be offered through offerDirect: every
// module is called directly and none owes an answer.
bool offersDirect(const FormScan& scan) {
  return scan.directory->allDirect && !scan.owing;
}

// askSyntaxModules for the forms from `form` up to `end`, while the
// directory's modules are all called directly (offersDirect): for each
// form, each module is called and its answer read, nothing else. Stops at
// the form a module accepted, or after the form in progress when a call
// evicted cache entries (a module calling back into the engine), which the
// modules' records may point to: the rest of that form then goes the way of
// askSyntaxModules. Returns the form to try next (the accepting one when
// one accepted).
const SyntaxForm* offerDirect(FormScan& scan, const SyntaxForm* form, const SyntaxForm* end) {
  ModuleDirectory& directory = *scan.directory;
  noteDirectoryFacts(scan);
  scan.lastSkipped = 0;
  const DirectModule* const first = directory.direct.data();
  const DirectModule* const last = first + directory.direct.size();
  const uint64_t evictions = directory.evictionsSeen;
  const char* const outer = moduleInCall.load(std::memory_order_relaxed);
  const std::string_view statement = scan.statement;
  for (; form != end; ++form) {
    scan.form = form;
    if (scan.statementCarriesZE && form->patternCarriesZE) scan.refusedForm = true;
    for (const DirectModule* module = first; module != last; ++module) {
      checkInPlace(module->entries, *module->path, outer, form->pattern, statement,
                   scan.lastAnswer);
      const bool accepts = readAnswer(scan);
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

void keepLastAnswer(SyntaxVerdict& verdict) {
  if (verdict.moduleAsked) lineSyntaxesExistLib = std::move(verdict.lastAnswer);
}

