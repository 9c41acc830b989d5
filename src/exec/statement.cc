#include "exec/statement.h"

#include <deque>

#include "modules/module_call.h"
#include "cache/disk_cache.h"
#include "base/text.h"
#include "syntax/syntax_search.h"
#include "base/state.h"

std::string packName(const std::string& syntaxPath) {
  std::string name = MyLastIndexOfSlash(syntaxPath);
  name = goReplace(std::move(name), ".zel", "");
  name = goReplace(std::move(name), ".txt", "");
  return goReplace(std::move(name), ".tt", "");
}

std::string withoutStatementMarkers(std::string text) {
  if (text.find('(') == std::string::npos) return text;  // no marker: most statements
  text = goReplace(std::move(text), "(ZE)", "");
  return goReplace(std::move(text), "(CZEL)", "");
}

SyntaxVerdict searchStatement(const Call& call, const std::string& syntaxPath,
                              const std::string& statement) {
  SyntaxVerdict match = searchSyntax(call, syntaxPath, statement);
  keepLastAnswer(match);
  return match;
}

namespace {

// The module path an accepted match names: in the pack of the syntax file
// that accepted the statement. The latest one is kept: a program's
// statements mostly name the modules of one pack in turn, and working the
// path out again costs more than checking it is the same.
struct AcceptedModule {
  // The form that named it, and the forms of its syntax file, held so that
  // the form's address names the same file and form as long as this is
  // kept (applications may share a syntax file: `app` tells them apart).
  const SyntaxForm* form = nullptr;
  SharedForms forms;
  std::string app, syntax, module, path;
  uint64_t appSerial = 0;  // the serial given with `app` (Call::appSerial)
  bool named = false;  // the module name stays inside its pack
  // The module file as loadedModule gave it, with the disk generation and
  // cache evictions count of that lookup (generation 0: look it up again).
  const LoadedModule* loaded = nullptr;
  uint64_t generation = 0;
  uint64_t evictions = 0;
};

// The latest accepted module of each level of module calls in progress,
// outermost first: a module that calls back into the engine has its nested
// statements use the next level, so the path its own call reports it by
// stays as it is. Process-wide, as the caches are: the next call (one
// Commandes after another) finds what the previous one worked out. Never
// destroyed; its entries never move.
std::deque<AcceptedModule>& acceptedLevels = *new std::deque<AcceptedModule>(1);
// The outermost level, the one nearly every statement uses, without a
// lookup in the deque.
AcceptedModule* const outermostAccepted = &acceptedLevels.front();
// The level of the statement being run: how many module calls are in
// progress; and how many levels there are (the deque's size, without
// working it out from the deque's blocks for every statement).
size_t acceptedDepth = 0;
size_t acceptedLevelCount = 1;

// One more level for as long as a module call lasts.
class AcceptedLevel {
 public:
  AcceptedLevel() {
    if (++acceptedDepth == acceptedLevelCount) {
      acceptedLevels.emplace_back();
      ++acceptedLevelCount;
    }
  }
  ~AcceptedLevel() { --acceptedDepth; }
  AcceptedLevel(const AcceptedLevel&) = delete;
  AcceptedLevel& operator=(const AcceptedLevel&) = delete;
};

// Works the module path of `match` out again, unless its module name and
// syntax file are those of `latest` (another form naming the same module).
void nameModule(const Call& call, const SyntaxVerdict& match, AcceptedModule& latest) {
  if (match.module() != latest.module || match.syntaxFile() != latest.syntax ||
      call.app() != latest.app) {
    const std::string pack = packName(match.syntaxFile());
    latest.path = call.packDir() + pack + "/" + match.module() + ".so";
    // A pack name "", "." or ".." would name node_modules or the application itself.
    latest.named = isPackModuleName(match.module()) && isPackModuleName(pack) && pack != ".";
    latest.app = call.app();
    latest.syntax = match.syntaxFile();
    latest.module = match.module();
    latest.generation = 0;
  }
  latest.appSerial = call.appSerial();
  latest.form = match.form();
  latest.forms = match.forms();
}

// True when `latest` was worked out for the call's application, whose
// serial it then notes.
bool forApplication(const Call& call, AcceptedModule& latest) {
  if (call.appSerial() == latest.appSerial) return true;
  if (call.app() != latest.app) return false;
  latest.appSerial = call.appSerial();
  return true;
}

AcceptedModule& acceptedModule(const Call& call, const SyntaxVerdict& match) {
  AcceptedModule* const latest =
      acceptedDepth == 0 ? outermostAccepted : &acceptedLevels[acceptedDepth];
  // The same form of the same application names the same module.
  if (match.form() != latest->form || !forApplication(call, *latest)) {
    nameModule(call, match, *latest);
  }
  return *latest;
}

// The module file of `module`, looked up again only when the disk may have
// changed or cache entries were evicted since the last lookup.
const LoadedModule& moduleFile(AcceptedModule& module) {
  const uint64_t generation = diskGeneration();
  if (module.generation == generation && module.evictions == cache_use::evictions()) {
    return *module.loaded;
  }
  module.loaded = &loadedModule(module.app, module.path);
  module.generation = isCached(*module.loaded) ? generation : 0;
  module.evictions = cache_use::evictions();
  return *module.loaded;
}

}  // namespace

namespace {

// The module's result for an accepted match (runAcceptedStatement).
Result acceptedModuleResult(const Call& call, const SyntaxVerdict& match,
                            const std::string& input) {
  AcceptedModule& module = acceptedModule(call, match);
  // A form's parameter comes from a syntax file, which the header of a
  // user's program may have chosen: it never names a file outside its pack.
  if (!module.named) return call.message(kFileNotFound, withVisibleNul(module.path));
  // A statement the module runs by calling back into the engine uses the
  // next level: module.path stays as it is during the call.
  const AcceptedLevel level;
  // The module's text goes straight into the result: answer(text) as it
  // stands, refusal(text) once marked failed.
  Result result;
  switch (callPackModule(moduleFile(module), module.path, input, result.text)) {
    case ModuleAnswer::kAnswered:
      return result;
    case ModuleAnswer::kUnreadable:
      return call.message(kFileNotFound, withVisibleNul(module.path));
    default:
      result.failed = true;
      return result;
  }
}

}  // namespace

Result runAcceptedStatement(Call& call, SyntaxVerdict& match, const std::string& input) {
  // The acceptance is the statement's result only while the module runs,
  // where only a call nested in the module's reads it (as it would the
  // classic result): it is stored only when the module throws, and then
  // stays the call's result, as of before the module ran.
  const uint64_t beforeModule = call.mark();
  call.holdWhileModuleRuns(&match.acceptance(), beforeModule);
  try {
    Result result = acceptedModuleResult(call, match, input);
    call.holdWhileModuleRuns(nullptr, 0);
    return result;
  } catch (...) {
    call.holdWhileModuleRuns(nullptr, 0);
    call.storeAsOf(match.takeResult(), beforeModule);
    throw;
  }
}

void runDirectStatement(Call& call, const std::string& syntaxPath,
                        const std::string& statement, const std::string& moduleStatement) {
  const StatementScope scope(call.app(), call.appSerial());
  SyntaxVerdict match = searchStatement(call, syntaxPath, statement);
  if (match.accepted) {
    call.store(runAcceptedStatement(call, match, joined(syntaxPath, ";", moduleStatement)));
  } else if (match.passedOver) {
    // A comment: the result as it was, without its markers.
    call.store(answer(withoutStatementMarkers(call.result())));
  } else {
    match.result.text = withoutStatementMarkers(std::move(match.result.text));
    call.store(std::move(match.result));
  }
  applyStopTest(call);
  call.addStatementResult(0);
}

bool applyStopTest(Call& call) {
  const std::string* stop = call.stopAnswer();
  // Without a real stop answer every empty result, or the catalogue's own
  // failure text, would end the host process.
  if (stop == nullptr || stop->empty() || call.result() != *stop) return false;
  stopRun(call);
  return true;
}
