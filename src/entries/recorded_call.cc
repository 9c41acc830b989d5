#include "entries/recorded_call.h"

#include <exception>
#include <mutex>

#include "base/state.h"
#include "modules/call_state.h"
#include "modules/running_module.h"

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
  call.outcome.modulePath = throwingModule();
}

// Runs `entry` in a call of its own and returns the call's record. The
// call ends here, leaving its result in the classic state, before the
// caller puts an isolated call's classic state back.
Outcome recordedOutcome(bool isolated, const std::function<std::string(Call&)>& entry) {
  Call call;
  call.holdsBackFirstResult = !isolated;
  try {
    call.outcome.result = entry(call);
  } catch (const std::exception& e) {
    recordThrow(call, e.what());
  } catch (...) {
    recordThrow(call, "zel: unknown exception in the engine");
  }
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

}  // namespace

Outcome recordedCall(std::atomic<bool>& cancel, bool isolated,
                     const std::function<std::string(Call&)>& entry, bool ownState) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  // Put back as it ends, so that a module calling back into the engine
  // leaves its caller's settings as they were.
  const RecordedCallScope scope(cancel);
  clearThrowingModule();
  ClassicState classic;
  if (isolated) classic = takeClassicState();
  // The state modules keep for this call; freed when it ends.
  CallStateStore callState;
  const bool callStore = isolated && ownState;
  CallStateStore* const savedStore = callStore ? useCallStateStore(&callState) : nullptr;
  Outcome outcome = recordedOutcome(isolated, entry);
  if (isolated) putClassicState(classic);
  if (callStore) useCallStateStore(savedStore);
  return outcome;
}
