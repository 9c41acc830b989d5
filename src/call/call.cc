#include "call/call.h"

#include <cstdlib>

#include "cache/disk_cache.h"
#include "lang/lang.h"
#include "base/text.h"
#include "base/state.h"

namespace {

bool stopEndsRun = false;
// Set by a stop answer under recordedCall, so that the run that ends on it is
// recorded as stopped rather than cancelled (the answer may come from a
// call nested in a module's).
bool stopRequested = false;

// Marks the order of the calls' stores and ends (Call::mark), and the mark
// of the latest end: a call ending leaves its result in resultat only when
// it stored it after every call that ended before it, as the classic state
// kept the latest result written.
uint64_t resultSequence = 0;
uint64_t lastEnded = 0;

// The innermost call in progress: a module calling back into the engine
// starts a call nested in its caller's.
const Call* innermostCall = nullptr;

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

std::atomic<bool>* programEndFlag = &neverEnds;

// What the classic result held as a call starts: for a call nested in a
// module's, its caller's latest result (the acceptance, while the caller's
// module runs) unless a call nested before it ended later. A mark taken
// after an end equals it, hence >=.
const std::string& Call::resultAtStart() {
  const Call* outer = innermostCall;
  if (outer == nullptr) return resultat;
  if (outer->pending_ != nullptr && outer->pendingMark_ >= lastEnded) return *outer->pending_;
  return outer->storedAt_ >= lastEnded ? outer->result_ : resultat;
}

Call::Call() : outer_(innermostCall), result_(resultAtStart()), storedAt_(++resultSequence) {
  innermostCall = this;
  markCheckDue();
}

Call::~Call() {
  innermostCall = outer_;
  if (storedAt_ >= lastEnded) resultat = std::move(result_);
  lastEnded = ++resultSequence;
  markCheckDue();
}

uint64_t Call::mark() const { return resultSequence; }

void Call::storeAsOf(Result&& result, uint64_t mark) {
  store(std::move(result));
  storedAt_ = mark;
}

void Call::setApp(std::string app, std::string catalog) {
  app_ = std::move(app);
  static uint64_t appSerials = 0;
  appSerial_ = ++appSerials;
  catalog_ = catalog.empty() ? catalogPathOf(app_) : std::move(catalog);
  packDir_ = joined(app_, "/node_modules/");
  syntaxModuleDir_ = joined(packDir_, "korrin_linux/");
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

void Call::store(Result&& result, bool counts) {
  outcome.message = result.message;
  outcome.line = line_;
  if (result.failed && counts) addFailure(result, line_);
  result_ = std::move(result.text);
  storedAt_ = ++resultSequence;
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
    outcome.results.push_back({line, outcome.message, result_});
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
  programEndFlag->store(true, std::memory_order_relaxed);
}

RecordedCallScope::RecordedCallScope(std::atomic<bool>& cancel)
    : flag_(programEndFlag), stopEndsRun_(stopEndsRun), stopRequested_(stopRequested) {
  programEndFlag = &cancel;
  stopEndsRun = true;
  stopRequested = false;
}

RecordedCallScope::~RecordedCallScope() {
  programEndFlag = flag_;
  stopEndsRun = stopEndsRun_;
  stopRequested = stopRequested_;
}
