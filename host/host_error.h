// Failures the host reports to its user. Each carries a complete message that
// names the file and the reason; the command line prints it and exits with
// the status its kind calls for.
#pragma once

#include <stdexcept>
#include <string>

// A file could not be read, recognised or written: exit status 1.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Standard output could not be written: exit status 1. The system's reason
// travels as its number, for the one message vyn gives about standard output
// whichever write found the failure.
class StandardOutputError : public HostError {
 public:
  explicit StandardOutputError(int system_error)
      : HostError("standard output: cannot write"), system_error_(system_error) {}
  int system_error() const { return system_error_; }

 private:
  int system_error_;
};

// The command line asked for something that cannot be done as asked: exit
// status 2, like any other usage error.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "path: reason", the form every message about a file takes.
inline std::string FileMessage(const std::string& path, const std::string& reason) {
  return path + ": " + reason;
}
