// The text that crosses into the system: paths in UTF-16 and in the ANSI
// code page the plug-ins take, and UTF-8 turned into UTF-16 for a console,
// piece by piece. Natively, with the code pages as this system's converter
// has them, so that none of it is tested only under Wine.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "host/cli/console_output.h"
#include "host/files/name_encoding.h"
#include "host/files/system_path.h"

namespace {

TEST(SystemText, Utf16AndUtf8CarryEveryCharacter) {
  struct Case {
    std::u16string wide;
    std::string utf8;
  };
  const Case cases[] = {
      {u"", ""},
      {u"C:\\trial\\入力 フォルダ\\日本語 アーカイブ.ARC",
       "C:\\trial\\\xE5\x85\xA5\xE5\x8A\x9B \xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80\\"
       "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE3\x82\xA2\xE3\x83\xBC\xE3\x82\xAB\xE3\x82\xA4"
       "\xE3\x83\x96.ARC"},
      {u"J\u00FCrgen a\u2013b", "J\xC3\xBCrgen a\xE2\x80\x93" "b"},
      {u"\U0001F600.GP8", "\xF0\x9F\x98\x80.GP8"},  // a surrogate pair
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.wide), c.utf8);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.wide);
  }
  // What belongs to no character becomes U+FFFD, one for each unit or byte.
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD83D') + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf8ToUtf16("a\xFF\xE3\x81"), u"a\uFFFD\uFFFD\uFFFD");
}

TEST(SystemText, PluginsGetAPathOnlyWhenTheCodePageHoldsItExactly) {
  struct Case {
    const char* code_page;
    std::string utf8;
    std::optional<std::string> bytes;
  };
  const Case cases[] = {
      {"cp932", "C:\\\xE5\x85\xA5\xE5\x8A\x9B \xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80\\a.ARC",
       "C:\\\x93\xFC\x97\xCD \x83\x74\x83\x48\x83\x8B\x83\x5F\\a.ARC"},  // 入力 フォルダ
      {"cp932", "\xE3\x82\xBD\xE8\xA1\xA8.GP8", "\x83\x5C\x95\x5C.GP8"},  // ソ表: second bytes "\"
      {"cp932", "\xED\x95\x9C.ARC", std::nullopt},                        // Korean 한
      {"cp932", "\xF0\x9F\x98\x80.ARC", std::nullopt},                    // an emoji
      {"cp932", "J\xC3\xBCrgen", std::nullopt},  // ü: CP932 has only a look-alike
      {"cp1252", "J\xC3\xBCrgen", "J\xFCrgen"},
      {"cp1252", "a\xE2\x80\x93" "b", "a\x96" "b"},  // the en dash is 0x96
      {"cp1252", "\xE5\x85\xA5", std::nullopt},
      {"cp1252", "a\xFF", std::nullopt},  // not UTF-8
  };
  for (const Case& c : cases) {
    const NameEncoding code_page(c.code_page);
    EXPECT_EQ(PathInCodePage(c.utf8, code_page), c.bytes) << c.code_page << " " << c.utf8;
  }
}

TEST(SystemText, ConsoleTextArrivesWholeHoweverItIsCut) {
  const std::string text =
      "\xE8\xA1\xA8.TXT \xF0\x9F\x98\x80 J\xC3\xBCrgen\n"  // 表.TXT, an emoji, ü
      "bad \xFF byte, cut \xE3\x81";                        // ends inside a character
  const std::u16string whole = u"表.TXT \U0001F600 Jürgen\nbad \uFFFD byte, cut ";
  // Every cut in two, as a stream hands over its pieces.
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    Utf8Pieces pieces;
    std::u16string out = pieces.Take(std::string_view(text).substr(0, cut));
    out += pieces.Take(std::string_view(text).substr(cut));
    EXPECT_EQ(out, whole) << "cut at " << cut;
    EXPECT_EQ(pieces.Finish(), u"\uFFFD\uFFFD") << "cut at " << cut;
  }
}

TEST(SystemText, AConsoleGetsLinesAndAFailedWriteFailsTheStream) {
  std::u16string written;
  bool accept = true;
  ConsoleBuffer buffer([&](std::u16string_view text) {
    if (accept) written += text;
    return accept;
  });
  std::ostream out(&buffer);
  out << "\xE8\xA1" << "\xA8 one\ntwo";
  EXPECT_EQ(written, u"表 one\n");  // a line at a time
  out << std::flush;
  EXPECT_EQ(written, u"表 one\ntwo");
  accept = false;
  out << "three\n";
  EXPECT_TRUE(out.bad());
}

}  // namespace
