#include "zel/outcome.h"

#include <cstdlib>
#include <exception>
#include <mutex>

#include "cache/disk_cache.h"
#include "modules/call_state.h"
#include "support/lang.h"
#include "support/text.h"
#include "zel/state.h"

namespace {

bool stopEndsRun = false;
// Set by a stop answer under runCall, so that the run that ends on it is
// recorded as stopped rather than cancelled (the answer may come from a
// call nested in a module's).
bool stopRequested = false;
std::string throwingModule;

// Never set: native callers cannot cancel.
std::atomic<bool> neverEnds{false};

// The messages that report something that went wrong: a file, pack, module
// or form not found or not usable, or a compilation that failed.
bool isFailureMessage(Message number) {
  switch (number) {
    case kCannotOpen: case kLexicalError: case kNotRecognised: case kFileNotFound:
    case kCompileFailed: case kCannotWrite: case kMarkedForm: case kNoSyntaxLine:
    case kNotAccepted: case kNoExtension: case kNoHeader: case kUnfinished:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::atomic<bool>* runEndFlag = &neverEnds;

Result answer(std::string text) { return {std::move(text), kNoMessage, false, false}; }

Result refusal(std::string text) { return {std::move(text), kNoMessage, true, false}; }

Call::Call() { markCheckDue(); }

Call::~Call() { markCheckDue(); }

void Call::setApp(std::string app, std::string catalog) {
  app_ = std::move(app);
  catalog_ = catalog.empty() ? catalogPathOf(app_) : std::move(catalog);
  packDir_ = app_ + "/node_modules/";
  syntaxModuleDir_ = packDir_ + "korrin_linux/";
}

const std::string* Call::messageText(Message number) const {
  return cachedMessage(app_, catalog_, std::to_string(number));
}

const std::string* Call::stopAnswer() const {
  const uint64_t generation = diskGeneration();
  if (stopGeneration_ == generation && stopEvictions_ == cache_use::evictions()) return stop_;
  bool lasting = false;
  stop_ = cachedMessage(app_, catalog_, std::to_string(kStopAnswer), &lasting);
  stopGeneration_ = lasting ? generation : 0;
  stopEvictions_ = cache_use::evictions();
  return stop_;
}

Result Call::message(Message number) const {
  Result result;
  result.message = number;
  const std::string key = std::to_string(number);
  result.noCatalog = !lookupMessage(app_, catalog_, key, result.text);
  if (!result.noCatalog && result.text.empty() && !shippedCatalog_.empty()) {
    std::string shipped;
    if (lookupMessage(app_, shippedCatalog_, key, shipped)) result.text = std::move(shipped);
  }
  result.failed = isFailureMessage(number) || result.noCatalog;
  return result;
}

Result Call::message(Message number, const std::string& fill) const {
  Result result = message(number);
  result.text = goReplace(std::move(result.text), ":E1:", fill);
  return result;
}

void Call::store(Result result, bool counts) {
  outcome.message = result.message;
  outcome.line = line_;
  if (result.failed && counts) addFailure(result, line_);
  resultat = std::move(result.text);
}

void Call::addFailure(const Result& failure, int line) {
  outcome.failed = true;
  if (failure.noCatalog) outcome.noCatalog = true;
  if (outcome.diagnostics.size() < listCap) {
    outcome.diagnostics.push_back({line, failure.message, failure.text});
  } else {
    ++outcome.omitted;
  }
}

void Call::addStatementResult(int line) {
  if (!keepsResults) return;
  if (outcome.results.size() < listCap) {
    outcome.results.push_back({line, outcome.message, resultat});
  } else {
    ++outcome.omittedResults;
  }
}

void noteRunEnded(Call& call) {
  if (stopRequested) {
    call.outcome.stopped = true;
  } else {
    call.outcome.cancelled = true;
  }
}

void stopRun(Call& call) {
  call.store(call.message(kProgramEnded));
  call.outcome.stopped = true;
  if (!stopEndsRun) std::exit(0);
  stopRequested = true;
  runEndFlag->store(true, std::memory_order_relaxed);
}

void noteThrowingModule(const std::string& path) { throwingModule = path; }

namespace {

// The process-wide state a classic call leaves for the next one.
struct ClassicState {
  std::string app, result, line, appFile, dataFile, pending, first, langLine, syntaxLine,
      lastAnswer, dirPath;
  bool encryptError = false;
};

// Moves the classic state out, leaving it as a fresh process has it.
ClassicState takeClassicState() {
  ClassicState s{std::move(myAbsolutePathDirApp), std::move(resultat), std::move(line),
                 std::move(myAppFile), std::move(myDataFile), std::move(dataToSave),
                 std::move(FirstResponse), std::move(lineLang), std::move(lineSyntaxesExist),
                 std::move(lineSyntaxesExistLib), std::move(myDirPath), ErrorEnCrypt};
  for (std::string* text : {&myAbsolutePathDirApp, &resultat, &line, &myAppFile, &myDataFile,
                            &dataToSave, &FirstResponse, &lineLang, &lineSyntaxesExist,
                            &lineSyntaxesExistLib, &myDirPath}) {
    text->clear();
  }
  ErrorEnCrypt = false;
  return s;
}

void putClassicState(ClassicState& s) {
  myAbsolutePathDirApp = std::move(s.app);
  resultat = std::move(s.result);
  line = std::move(s.line);
  myAppFile = std::move(s.appFile);
  myDataFile = std::move(s.dataFile);
  dataToSave = std::move(s.pending);
  FirstResponse = std::move(s.first);
  lineLang = std::move(s.langLine);
  lineSyntaxesExist = std::move(s.syntaxLine);
  lineSyntaxesExistLib = std::move(s.lastAnswer);
  myDirPath = std::move(s.dirPath);
  ErrorEnCrypt = s.encryptError;
}

// Records an exception that left the entry: the line being run and the
// module it came through.
void recordThrow(Call& call, const char* what) {
  call.outcome.threw = true;
  call.outcome.error = what;
  call.outcome.line = call.line();
  call.outcome.modulePath = throwingModule;
}

}  // namespace

Outcome runCall(std::atomic<bool>& cancel, bool isolated,
                const std::function<std::string(Call&)>& entry, bool ownState) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  // Saved and put back, so that a module calling back into the engine
  // leaves its caller's settings as they were.
  std::atomic<bool>* const savedFlag = runEndFlag;
  const bool savedStop = stopEndsRun;
  const bool savedRequest = stopRequested;
  runEndFlag = &cancel;
  stopEndsRun = true;
  stopRequested = false;
  throwingModule.clear();
  ClassicState classic;
  if (isolated) classic = takeClassicState();
  // The state modules keep for this call; freed when it ends.
  CallStateStore callState;
  const bool callStore = isolated && ownState;
  CallStateStore* const savedStore = callStore ? useCallStateStore(&callState) : nullptr;
  Call call;
  call.holdsBackFirstResult = !isolated;
  try {
    call.outcome.result = entry(call);
  } catch (const std::exception& e) {
    recordThrow(call, e.what());
  } catch (...) {
    recordThrow(call, "zel: unknown exception in the engine");
  }
  if (isolated) putClassicState(classic);
  if (callStore) useCallStateStore(savedStore);
  runEndFlag = savedFlag;
  stopEndsRun = savedStop;
  stopRequested = savedRequest;
  if (call.outcome.omitted > 0) {
    call.outcome.diagnostics.push_back(
        {0, kNoMessage, std::to_string(call.outcome.omitted) + " more failures left out"});
  }
  if (call.outcome.omittedResults > 0) {
    call.outcome.results.push_back(
        {0, kNoMessage, std::to_string(call.outcome.omittedResults) + " more results left out"});
  }
  return std::move(call.outcome);
}
