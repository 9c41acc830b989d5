// The calling thread's kernel id, as the crash notes and the engine thread
// compare it: async-signal-safe, so a signal handler may ask it.
#ifndef ZEL_BASE_THREAD_ID_H_
#define ZEL_BASE_THREAD_ID_H_

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

inline pid_t threadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

#endif  // ZEL_BASE_THREAD_ID_H_
