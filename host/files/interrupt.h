// Partial files removed when vyn is interrupted.
//
// Every partial file the host is writing is registered here while it lives.
// SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and the closing
// of the console) remove every registered file and end vyn as the signal
// would: a shell sees the status 128 + the signal's number, 130 for SIGINT
// and 143 for SIGTERM. The handler only walks a fixed table, so it is safe at
// any moment of a write.
//
// On Windows the console's handler runs on a thread of its own while vyn goes
// on. It holds the registry (so nothing is created or renamed meanwhile) and
// removes each file; one that another handle holds without sharing its
// deletion (the image plug-in reading an encoded picture back, which opens it
// by name for one read) is tried again until that read lets go, for at most
// kRemovalPatienceMs, well within the five seconds the system gives a console
// that is being closed.
#pragma once

#include <filesystem>

// Installs the handlers; a signal that vyn was started with ignored stays
// ignored. Called once, at the start of main.
void InstallInterruptCleanup();

// Holds back the signals that end vyn while it lives, so that creating a
// file and registering it, or renaming it and unregistering it, cannot be
// cut in two.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

// Registers a partial file by the name the system's calls take (UTF-16 on
// Windows); returns its slot, or -1 when the table is full or the path too
// long for it (neither happens with the few files vyn writes at a time, whose
// paths the system has accepted already).
int RegisterPartialFile(const std::filesystem::path& path);
void UnregisterPartialFile(int slot);

#if defined(_WIN32)
// What the console's handler does before it ends the process: removes every
// registered file, trying again while one is held. Returns how many could
// not be removed.
inline constexpr unsigned kRemovalPatienceMs = 3000;
int RemoveRegisteredFiles(unsigned patience_ms);
#endif
