#include "zel/outcome.h"

#include <cstdlib>
#include <exception>
#include <mutex>

#include "zel/state.h"

namespace {

// The record lives as long as the process, like the rest of the engine state.
Outcome& record() {
  static auto* outcome = new Outcome;
  return *outcome;
}

int statementLine = 0;
bool stopEndsRun = false;

// Never set: native callers cannot cancel.
std::atomic<bool> neverEnds{false};

// The messages that report something that went wrong: a file, pack, module
// or form not found or not usable, or a compilation that failed.
bool isFailureMessage(int number) {
  switch (number) {
    case 1: case 2: case 3: case 4: case 9: case 11: case 14: case 18: case 19: case 20:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::atomic<bool>* runEndFlag = &neverEnds;

Outcome& callOutcome() { return record(); }

void beginOutcome() {
  Outcome& o = record();
  o.message = 0;
  o.line = 0;
  o.failed = o.stopped = o.cancelled = o.threw = false;
  o.error.clear();
  o.modulePath.clear();
  statementLine = 0;
}

void setStatementLine(int line) { statementLine = line; }

void recordMessage(int number) {
  Outcome& o = record();
  o.message = number;
  o.line = statementLine;
  o.failed = isFailureMessage(number);
}

void recordModuleResult() {
  Outcome& o = record();
  o.message = 0;
  o.line = statementLine;
  o.failed = false;
}

void recordUnnumberedFailure() {
  recordModuleResult();
  record().failed = true;
}

void noteRunEnded() {
  if (!record().stopped) record().cancelled = true;
}

void stopRun() {
  recordMessage(12);
  record().stopped = true;
  if (!stopEndsRun) std::exit(0);
  runEndFlag->store(true, std::memory_order_relaxed);
}

Outcome runCall(std::atomic<bool>& cancel, const std::function<std::string()>& entry) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  // Saved and put back, so that a module calling back into the engine
  // leaves its caller's settings as they were.
  std::atomic<bool>* const savedFlag = runEndFlag;
  const bool savedStop = stopEndsRun;
  runEndFlag = &cancel;
  stopEndsRun = true;
  Outcome out;
  try {
    std::string result = entry();
    out = record();
    out.result = std::move(result);
  } catch (const std::exception& e) {
    out = record();
    out.threw = true;
    out.error = e.what();
  } catch (...) {
    out = record();
    out.threw = true;
    out.error = "zel: unknown exception in the engine";
  }
  runEndFlag = savedFlag;
  stopEndsRun = savedStop;
  return out;
}
