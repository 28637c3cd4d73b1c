// Failures the host reports to its user. Each carries a complete message that
// names the file and the reason; the command line prints it and exits with
// the status its kind calls for.
#pragma once

#include <cstdint>
#include <cstdio>
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

// A size as a person reads it: "512 bytes", "64.0 KB", "1.1 GB" (powers of
// 1000, one decimal).
inline std::string SizeInWords(std::uint64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1000;
  std::size_t unit = 0;
  while (value >= 999.95 && unit + 1 < std::size(kUnits)) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

// "not enough memory to hold NAME, 1.1 GB".
inline std::string NotEnoughMemory(const std::string& what, std::uint64_t bytes) {
  return "not enough memory to hold " + what + ", " + SizeInWords(bytes);
}
