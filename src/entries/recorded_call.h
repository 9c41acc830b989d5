// Running an engine entry as one call with a record of its own: what the
// promise API, the pool and the command line's session run each call
// through.
#ifndef ZEL_ENTRIES_RECORDED_CALL_H_
#define ZEL_ENTRIES_RECORDED_CALL_H_

#include <atomic>
#include <functional>
#include <string>

#include "call/call.h"

// Runs `entry` under the engine lock with a fresh record. A stop answer
// ends the run instead of the process; setting `cancel` (from any thread)
// ends a program run before its next statement. Exceptions are caught and
// recorded with the line being run. An `isolated` call starts from a clean
// engine state (no result, nothing held back, no application directory)
// and puts the process-wide state back as it found it, so the classic
// entries see only what classic calls left. The state modules keep per call
// (zelCallState) is the call's own and freed when it ends when the call is
// isolated and `ownState`; otherwise the process-wide one. Returns the
// record with the entry's result.
Outcome recordedCall(std::atomic<bool>& cancel, bool isolated,
                     const std::function<std::string(Call&)>& entry, bool ownState = true);

#endif  // ZEL_ENTRIES_RECORDED_CALL_H_
