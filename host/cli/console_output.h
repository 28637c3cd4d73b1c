// Text for a Windows console. vyn's text is UTF-8 everywhere; a console
// would read those bytes in its own code page (CP932 shows 表.TXT as
// 陦ｨ.TXT), so text bound for a console goes to it as UTF-16 through
// WriteConsoleW, and every name reads right whatever the code page. Text
// bound for a file or a pipe stays UTF-8, byte for byte what vyn prints on
// Linux.
#pragma once

#include <algorithm>
#include <functional>
#include <streambuf>
#include <string>
#include <string_view>

// UTF-8 arriving in pieces, as UTF-16: a character cut between two pieces
// waits for the rest; a byte that begins no character becomes U+FFFD.
class Utf8Pieces {
 public:
  // The UTF-16 of every character complete so far.
  std::u16string Take(std::string_view bytes);
  // Whatever is still waiting, given up as U+FFFD.
  std::u16string Finish();

 private:
  std::string waiting_;
};

// A stream buffer that turns the UTF-8 written to it into UTF-16 for a
// sink, a line at a time (and whenever it is flushed). The sink returns false
// when it could not write; the stream then fails, as for a full disk.
class ConsoleBuffer : public std::streambuf {
 public:
  using Sink = std::function<bool(std::u16string_view)>;
  explicit ConsoleBuffer(Sink sink) : sink_(std::move(sink)) {}
  ~ConsoleBuffer() override;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* bytes, std::streamsize count) override;
  int sync() override;

 private:
  bool Deliver(std::string_view bytes);

  Sink sink_;
  Utf8Pieces pieces_;
  std::string line_;
};

// On Windows, makes std::cout and std::cerr write through WriteConsoleW
// when they are a console; elsewhere, and for files and pipes, nothing
// changes. Called once, at the start of main.
void UseConsoleForText();
