#include <gtest/gtest.h>

#include "platform/text.h"

namespace lumo {
namespace {

TEST(Text, GbkRoundTripsChineseText) {
  const std::string utf8 = "Vexta影音 正在初始化...";
  std::string gbk = utf8ToGbk(utf8);
  EXPECT_EQ(gbk, "Vexta\xD3\xB0\xD2\xF4 \xD5\xFD\xD4\xDA\xB3\xF5\xCA\xBC\xBB\xAF...");
  EXPECT_EQ(gbkToUtf8(gbk), utf8);
}

TEST(Text, BytesThatAreNotGbkBecomeReplacementCharacters) {
  EXPECT_EQ(gbkToUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(gbkToUtf8("a\xD3"), "a\xEF\xBF\xBD");  // a lead byte cut off at the end
}

TEST(Text, CharactersGbkCannotCarryBecomeQuestionMarks) { EXPECT_EQ(utf8ToGbk("a😀b"), "a?b"); }

TEST(Text, CutCountsUtf16UnitsAndNeverSplitsACharacter) {
  EXPECT_EQ(utf16Length("影音"), 2u);
  EXPECT_EQ(utf16Length("😀"), 2u);
  EXPECT_EQ(cutToUtf16Units("影音ab", 3), "影音a");
  EXPECT_EQ(cutToUtf16Units("a😀", 2), "a");
  EXPECT_EQ(cutToUtf16Units(std::string(300, 'x'), 259), std::string(259, 'x'));
}

TEST(Text, TrimRemovesAsciiAndIdeographicSpace) {
  EXPECT_EQ(trim(" \t\r\n#Notify x\v\f "), "#Notify x");
  EXPECT_EQ(trim("\xE3\x80\x80#Run\xE3\x80\x80"), "#Run");
  EXPECT_EQ(trim("影音"), "影音");  // multi-byte characters whose last byte is 0x80..0xBF stay
}

TEST(Text, EveryByteOutsideAWellFormedCharacterBecomesOneReplacement) {
  const std::string r = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> cases[] = {
      {"a影😀", "a影😀"},
      {"\xC0\xAF", r + r},                      // overlong "/"
      {"\xED\xA0\x80", r + r + r},               // a surrogate
      {"\xF4\x90\x80\x80x", r + r + r + r + "x"},  // beyond U+10FFFF
      {"\xE5\xBD", r + r},                      // cut short at the end
      {"\x80z", r + "z"},                         // a stray continuation byte
  };
  for (const auto& [bytes, expected] : cases)
    EXPECT_EQ(toValidUtf8(bytes), expected) << ::testing::PrintToString(bytes);
}

TEST(Text, ACutCharacterAtTheEndIsDropped) {
  EXPECT_EQ(withoutCutCharacter("a影"), "a影");
  EXPECT_EQ(withoutCutCharacter("a\xE5\xBD"), "a");
  EXPECT_EQ(withoutCutCharacter("a\xF0\x9F\x98"), "a");
  EXPECT_EQ(withoutCutCharacter("\x80\x80"), "\x80\x80");  // no lead byte: nothing to judge
}

}  // namespace
}  // namespace lumo
