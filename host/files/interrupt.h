// Partial files removed when vyn is interrupted.
//
// Every partial file the host is writing is registered here while it lives.
// SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and the closing
// of the console) remove every registered file and end vyn as the signal
// would: a shell sees the status 128 + the signal's number, 130 for SIGINT
// and 143 for SIGTERM. The handler only walks a fixed table, so it is safe at
// any moment of a write.
#pragma once

#include <string>

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

// Registers a partial file; returns its slot, or -1 when the table is full or
// the path too long for it (neither happens with the few files vyn writes at
// a time, whose paths the system has accepted already).
int RegisterPartialFile(const std::string& path);
void UnregisterPartialFile(int slot);
