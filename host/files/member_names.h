// What vyn makes of an archive member's decoded name: the text it shows,
// whether the member may become a file in the destination, the file name it
// is written under, and whether a name from the command line chooses it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The name as vyn shows it in tables, JSON and messages, in UTF-8: every
// kept byte (one that does not decode, or belongs to a control character)
// as \xNN. On POSIX it is also the name of the file written.
std::string ShownName(const std::u32string& decoded);

// Text from elsewhere (command-line arguments) made fit for the terminal:
// UTF-8 as it is, control characters and bytes that are not UTF-8 as \xNN.
std::string ShownText(const std::string& text);

// Why a member of this name cannot become a file directly in the
// destination, or empty when it can: an empty name, "." or "..", a path
// separator ("/"; on Windows "\" and ":" too), a device name on Windows.
std::string UnsafeNameProblem(const std::u32string& decoded, const std::string& directory);

// The file name a member is written under, as the system's file calls take
// it. On POSIX the shown name's bytes. On Windows UTF-16, and since "\"
// separates there, each kept byte is %xNN instead, as are the characters
// Windows allows in no file name and a last "." or " ", which it would drop.
std::filesystem::path MemberFileName(const std::u32string& decoded);

// Two file names that are one file in a directory have one key: the name
// itself, on Windows with its case folded.
std::u32string FileNameKey(const std::filesystem::path& file_name);

// The name with "~N" before its extension: a.txt, 2 gives a~2.txt.
std::u32string NumberedName(const std::u32string& decoded, unsigned n);

// Simple case folding: ASCII, Latin-1, Greek, Cyrillic and the fullwidth
// Latin letters, the same on every system.
char32_t FoldCase(char32_t c);

// Shell-style matching: "*" any run of characters, "?" one character,
// "[abc]", "[a-z]" and "[!a-z]" one of a set (or not); every other
// character, "\" included, stands for itself.
bool MatchesPattern(std::u32string_view pattern, std::u32string_view name, bool ignore_case);

// The members that names and patterns from the command line choose. An
// argument chooses every member whose shown name it equals or, when it holds
// "*", "?" or "[", matches as a pattern.
class MemberSelection {
 public:
  // No arguments choose every member.
  MemberSelection(const std::vector<std::string>& arguments, bool ignore_case);

  bool Chooses(const std::string& shown);
  // What was asked for and chose nothing, with the wording of a message:
  // `no member named "x"` or `no member matching "*.x"`.
  std::vector<std::string> Unused() const;

 private:
  struct Argument {
    std::string text;  // UTF-8
    std::u32string characters;
    bool pattern = false;
    bool used = false;
  };
  std::vector<Argument> arguments_;
  bool ignore_case_;
};
