// What vyn makes of an archive member's decoded name: the text it shows,
// whether the member may become a file in the destination, the file name it
// is written under, and whether a name from the command line chooses it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The one form a member's name takes outside the archive: in tables, JSON
// and messages, as the name of the file it is written to (on every system),
// and as pack, update and member arguments read it back. Characters are
// UTF-8; "%xNN" (two upper-case hex digits) stands for a byte NN that does not
// decode or belongs to a control character, and for the characters a file
// name cannot hold on Windows: "%" itself, < > : " / \ | ? *, a last "." or
// " " (which Windows drops), and the first letter of a device name (CON.TXT
// is %x43ON.TXT). Every other character is itself, so the form is one string
// for one name and gives back the name's every byte.
std::string ShownName(const std::u32string& decoded);

// A name in that form read back: "%xNN" as the byte or character NN, every
// other character as itself. A "%" that begins no "%xNN" is itself, so a name
// typed without escapes reads as it looks. Text that is not UTF-8 keeps the
// bytes that do not decode.
std::u32string NameFromShown(std::string_view shown);

// The name read back and shown again: the one form of what `text` names.
std::string CanonicalName(std::string_view text);

// Text from elsewhere (command-line arguments, file names) made fit for the
// terminal: UTF-8 as it is, control characters and bytes that are not UTF-8
// as \xNN.
std::string ShownText(const std::string& text);

// Why a member of this name cannot become a file in the destination, or
// empty when it can: only an empty name, since the form above makes every
// other name a single file name on every system.
std::string UnsafeNameProblem(const std::u32string& decoded, const std::string& directory);

// The file name a member is written under, as the system's file calls take
// it: the shown name (UTF-16 on Windows).
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
// character, "\" included, stands for itself, and "[*]", "[?]" and "[[]"
// each match the character they hold.
bool MatchesPattern(std::u32string_view pattern, std::u32string_view name, bool ignore_case);

// The members that names and patterns from the command line choose. An
// argument chooses every member whose name it equals (read back as
// NameFromShown reads it) or, when it holds "*", "?" or "[", matches as a
// pattern. "%xNN" stands for a character as it is, never for a pattern
// character: "%x5B1].TXT" chooses [1].TXT alone.
class MemberSelection {
 public:
  // No arguments choose every member.
  MemberSelection(const std::vector<std::string>& arguments, bool ignore_case);

  bool Chooses(const std::u32string& decoded);
  // Whether the i-th argument chose a member.
  bool Used(std::size_t i) const { return arguments_[i].used; }
  // What was asked for and chose nothing, with the wording of a message:
  // `no member named "x"` or `no member matching "*.x"`.
  std::vector<std::string> Unused() const;

 private:
  struct Argument {
    std::string text;  // UTF-8
    std::u32string characters;  // the name it stands for
    std::u32string pattern;     // with each escaped pattern character in a set of its own
    bool is_pattern = false;
    bool used = false;
  };
  std::vector<Argument> arguments_;
  bool ignore_case_;
};
