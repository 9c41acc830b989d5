// The engine queue's timer thread, started when first needed: it ends the
// call that runs past its time limit, and hands back the calls of a batch
// that have run when the rest of it runs long.
#ifndef ZEL_HOST_CALL_QUEUE_TIMER_H_
#define ZEL_HOST_CALL_QUEUE_TIMER_H_

#include <chrono>

#include "host/call_queue.h"

// Sets `call`'s cancel and timedOut (unless a cancel came first) once its
// time limit, counted from when it was made, runs out; one call at a time.
void startWatch(QueuedCall& call);
// Once this returns, the timer has made its last change to the call.
void endWatch();
// Runs flush(arg) on the timer thread after `delay`, unless a flush is due
// already.
void flushAfter(std::chrono::microseconds delay, void (*flush)(void*), void* arg);

#endif  // ZEL_HOST_CALL_QUEUE_TIMER_H_
