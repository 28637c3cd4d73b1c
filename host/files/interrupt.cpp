#include "host/files/interrupt.h"

#include <csignal>
#include <cstring>

#include "platform.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

constexpr int kSlots = 16;
constexpr std::size_t kPathCapacity = 4096;

// A slot is written only while it is free, then marked live; the handler
// reads only live slots.
struct Slot {
  volatile std::sig_atomic_t live = 0;
  char path[kPathCapacity] = {};
};
Slot slots[kSlots];

#if defined(_WIN32)

// The console's handler runs on a thread of its own: the lock stands in for
// the blocked signals of POSIX.
CRITICAL_SECTION& RegistryLock() {
  static struct Lock {
    Lock() { InitializeCriticalSection(&section); }
    CRITICAL_SECTION section;
  } lock;
  return lock.section;
}

void RemoveLiveFiles() {
  for (Slot& slot : slots) {
    // Partial files are open with FILE_SHARE_DELETE: the name goes now, the
    // file once the process has ended.
    if (slot.live != 0) DeleteFileA(slot.path);
  }
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  EnterCriticalSection(&RegistryLock());
  RemoveLiveFiles();
  TerminateProcess(GetCurrentProcess(), interrupt ? 128 + SIGINT : 128 + SIGTERM);
  return TRUE;
}

#else

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
int held_depth = 0;  // InterruptsHeld may nest

sigset_t EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kEndingSignals) sigaddset(&set, signal);
  return set;
}

// Async-signal-safe throughout: unlink, signal, sigprocmask, raise, _exit.
extern "C" void OnEndingSignal(int signal) {
  for (Slot& slot : slots) {
    if (slot.live != 0) ::unlink(slot.path);
  }
  // End as the signal itself would, so that a shell running vyn in a loop
  // sees the interrupt and stops too.
  std::signal(signal, SIG_DFL);
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, signal);
  sigprocmask(SIG_UNBLOCK, &own, nullptr);
  std::raise(signal);
  _exit(128 + signal);
}

#endif

}  // namespace

void InstallInterruptCleanup() {
#if defined(_WIN32)
  RegistryLock();
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  for (const int signal : kEndingSignals) {
    struct sigaction action {};
    if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) continue;
    action = {};
    action.sa_handler = OnEndingSignal;
    action.sa_mask = EndingSignals();  // one handler at a time
    sigaction(signal, &action, nullptr);
  }
#endif
}

InterruptsHeld::InterruptsHeld() {
#if defined(_WIN32)
  EnterCriticalSection(&RegistryLock());
#else
  if (held_depth++ != 0) return;
  const sigset_t set = EndingSignals();
  sigprocmask(SIG_BLOCK, &set, nullptr);
#endif
}

InterruptsHeld::~InterruptsHeld() {
#if defined(_WIN32)
  LeaveCriticalSection(&RegistryLock());
#else
  if (--held_depth != 0) return;
  const sigset_t set = EndingSignals();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
#endif
}

int RegisterPartialFile(const std::string& path) {
  if (path.size() >= kPathCapacity) return -1;
  for (int i = 0; i < kSlots; ++i) {
    Slot& slot = slots[i];
    if (slot.live != 0) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.live = 1;
    return i;
  }
  return -1;
}

void UnregisterPartialFile(int slot) {
  if (slot >= 0 && slot < kSlots) slots[slot].live = 0;
}
