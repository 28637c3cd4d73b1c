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
  std::filesystem::path::value_type path[kPathCapacity] = {};
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

constexpr DWORD kRetryMs = 10;

// Our own handle on a partial file shares its deletion: the name goes at
// once, the file when the process ends. Another handle that does not share
// it (a plug-in's read) makes the deletion fail until it is closed.
bool Removed(const wchar_t* path) {
  if (DeleteFileW(path) != 0) return true;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  // Held to the end: vyn's own thread, meanwhile, may finish a read but
  // never create, rename or register another file.
  EnterCriticalSection(&RegistryLock());
  RemoveRegisteredFiles(kRemovalPatienceMs);
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

int RegisterPartialFile(const std::filesystem::path& path) {
  const auto& name = path.native();
  if (name.size() >= kPathCapacity) return -1;
  for (int i = 0; i < kSlots; ++i) {
    Slot& slot = slots[i];
    if (slot.live != 0) continue;
    std::memcpy(slot.path, name.c_str(), (name.size() + 1) * sizeof name[0]);
    slot.live = 1;
    return i;
  }
  return -1;
}

void UnregisterPartialFile(int slot) {
  if (slot >= 0 && slot < kSlots) slots[slot].live = 0;
}

#if defined(_WIN32)
int RemoveRegisteredFiles(unsigned patience_ms) {
  bool removed[kSlots] = {};
  const ULONGLONG give_up = GetTickCount64() + patience_ms;
  for (;;) {
    int left = 0;
    for (int i = 0; i < kSlots; ++i) {
      if (slots[i].live == 0 || removed[i]) continue;
      removed[i] = Removed(slots[i].path);
      if (!removed[i]) ++left;
    }
    if (left == 0 || GetTickCount64() >= give_up) return left;
    Sleep(kRetryMs);
  }
}
#endif
