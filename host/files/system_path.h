// How a path travels from the command line to the file system and the
// plug-ins.
//
// Inside vyn a path is a std::string: on POSIX the bytes the system gave,
// on Windows UTF-8 made from the UTF-16 command line, so that every name,
// Japanese folders and names outside the ANSI code page included, survives
// and messages show it in one encoding. The system's file calls take it only
// through SystemPath (UTF-16 on Windows). The plug-ins' interface is ANSI:
// PathForPlugins gives the path in the ANSI code page, or nothing when some
// character has no exact form there; the host then hands the plug-in the
// file's bytes (memory input) instead of its name.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

class NameEncoding;

// UTF-16 and UTF-8, the same on every system. A unit or byte that does not
// belong to a character becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
// One character appended as UTF-16: a surrogate pair above U+FFFF.
void AppendUtf16(std::u16string& out, char32_t c);

// A path as the system's file calls take it, and back as vyn holds it.
std::filesystem::path SystemPath(const std::string& path);
std::string ShownPath(const std::filesystem::path& path);

// The path in a code page, character by character and exactly (no
// look-alikes); nothing when a character has no form there or the path is
// not UTF-8.
std::optional<std::string> PathInCodePage(const std::string& path, const NameEncoding& code_page);

// The path as the plug-ins' file input takes it: on Windows in the ANSI code
// page, or nothing when it cannot be written there; on POSIX the path itself.
std::optional<std::string> PathForPlugins(const std::string& path);

// The command line's arguments, the program's name first: on Windows from
// the UTF-16 command line, as UTF-8; on POSIX argv as it is.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// An environment variable's value (UTF-8 on Windows); empty when unset.
std::string EnvironmentValue(const char* name);

// The system's reason for a failure in words: for a Windows error number the
// system's own sentence, for anything else the category's message.
std::string ReasonText(const std::error_code& error);
#if defined(_WIN32)
std::string WindowsReason(unsigned long error);
#endif
