#include "host/crash_report.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

std::atomic<const Call*> callInRun{nullptr};

namespace {

// Everything below is read by the signal handler, which may only make
// async-signal-safe calls: no allocation, no locks, no formatting library.

std::atomic<pid_t> engineThread{0};
constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr const char* kNames[] = {"SIGSEGV", "SIGBUS", "SIGFPE", "SIGILL", "SIGABRT"};
struct sigaction previous[sizeof(kSignals) / sizeof(kSignals[0])];
char command[256];
char program[4096];
char home[4096];  // the application home, without a final "/"; "" when none
volatile sig_atomic_t noted = 0;
constexpr size_t kSignalStackSize = 64 * 1024;

pid_t threadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// Appends `text` to the note being built in [*at, end).
void append(char*& at, const char* end, const char* text) {
  while (*text != '\0' && at < end) *at++ = *text++;
}

void appendNumber(char*& at, const char* end, int number) {
  char digits[12];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number > 0 && count < 11);
  while (count > 0 && at < end) *at++ = digits[--count];
}

// `module` as a user may see it: relative to the home when it lies inside,
// otherwise its last name only.
const char* shownModule(const char* module) {
  size_t i = 0;
  while (home[i] != '\0' && module[i] == home[i]) ++i;
  if (home[0] != '\0' && home[i] == '\0' && module[i] == '/') return module + i + 1;
  const char* last = module;
  for (const char* at = module; *at != '\0'; ++at) {
    if (*at == '/' && at[1] != '\0') last = at + 1;
  }
  return last;
}

void writeNote(const char* module, int line, const char* signalName) {
  char note[8192];
  char* at = note;
  const char* end = note + sizeof(note) - 1;
  append(at, end, command);
  append(at, end, ": ");
  if (program[0] != '\0' && line > 0) {
    append(at, end, program);
    append(at, end, ":");
    appendNumber(at, end, line);
    append(at, end, ": ");
  }
  append(at, end, "the module ");
  append(at, end, shownModule(module));
  append(at, end, " crashed (");
  append(at, end, signalName);
  append(at, end, ")\n");
  for (const char* from = note; from < at;) {
    const ssize_t written = write(STDERR_FILENO, from, static_cast<size_t>(at - from));
    if (written <= 0) break;
    from += written;
  }
}

// Hands signal `index` to the handler installed before ours. For the
// default action (or none), that handler is put back: a fault happens again
// when this handler returns, and a signal sent by a process is raised again
// (it stays pending until then), so that either takes its course.
void handOn(size_t index, int signal, siginfo_t* info, void* context) {
  const struct sigaction& before = previous[index];
  if ((before.sa_flags & SA_SIGINFO) != 0 && before.sa_sigaction != nullptr) {
    before.sa_sigaction(signal, info, context);
  } else if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN) {
    before.sa_handler(signal);
  } else {
    sigaction(signal, &before, nullptr);
    if (info == nullptr || info->si_code <= 0) raise(signal);
  }
}

void onCrash(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  size_t index = 0;
  while (kSignals[index] != signal) ++index;
  const char* module = moduleInCall.load(std::memory_order_relaxed);
  if (module != nullptr && noted == 0 && threadId() == engineThread.load()) {
    noted = 1;
    const Call* call = callInRun.load(std::memory_order_relaxed);
    writeNote(module, call != nullptr ? call->line() : 0, kNames[index]);
  }
  handOn(index, signal, info, context);
  errno = savedErrno;
}

void copyText(char* to, size_t size, const std::string& text) {
  const size_t length = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(to, text.data(), length);
  to[length] = '\0';
}

}  // namespace

void noteEngineThread() {
  // One engine thread for the process, whose signal stack lasts as long.
  static void* const signalStack = std::malloc(kSignalStackSize);
  engineThread.store(threadId());
  if (signalStack == nullptr) return;
  stack_t stack{};
  stack.ss_sp = signalStack;
  stack.ss_size = kSignalStackSize;
  sigaltstack(&stack, nullptr);
}

void reportModuleCrashes(const std::string& commandName, const std::string& programName,
                         const std::string& homeDir) {
  copyText(command, sizeof(command), commandName);
  copyText(program, sizeof(program), programName);
  const size_t kept = homeDir.find_last_not_of('/');
  copyText(home, sizeof(home), kept == std::string::npos ? "" : homeDir.substr(0, kept + 1));
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_sigaction = onCrash;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); ++i) {
      sigaction(kSignals[i], &action, &previous[i]);
    }
  });
}
