#include "hidden/PaneText.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace veilora {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes.push_back(static_cast<char>(value));
  return bytes;
}

std::string RoundTrip(const std::string& bytes) {
  return PaneBytesFromText(PaneTextFromBytes(bytes));
}

char16_t Escape(int byte) {
  return static_cast<char16_t>(kPaneByteEscapeBase + byte);
}

TEST(PaneTextRoundTrip, EveryByteValueAloneAndTogether) {
  std::string all;
  for (int value = 1; value <= 255; ++value) {
    const std::string single(1, static_cast<char>(value));
    all += single;
    if (value == '\r' || value == '\n') {
      EXPECT_EQ(RoundTrip(single), "\r\n") << value;
    } else {
      EXPECT_EQ(RoundTrip(single), single) << value;
    }
  }
  EXPECT_EQ(RoundTrip(all), NormalisePaneBytes(all));
}

TEST(PaneTextRoundTrip, RandomByteStringsComeBackAsThePaneRulesLeaveThem) {
  std::mt19937 random(20261208);
  // Half of the strings lean towards lead and continuation bytes so that they hold many valid,
  // truncated and overlong UTF-8 sequences, not only stray high bytes.
  const std::string utf8ish = Bytes({0xC2, 0xC3, 0xDF, 0xE0, 0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xF5,
                                     0x80, 0x9E, 0x9F, 0xA0, 0xA9, 0xB7, 0xBF, 'a',  '\r', '\n'});
  for (int round = 0; round < 400; ++round) {
    const std::size_t length = random() % 200;
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i) {
      const int value = round % 2 == 0 ? static_cast<int>(1 + random() % 255)
                                       : static_cast<std::uint8_t>(utf8ish[random() % utf8ish.size()]);
      bytes.push_back(static_cast<char>(value));
    }
    ASSERT_EQ(RoundTrip(bytes), NormalisePaneBytes(bytes)) << "round " << round;
  }
}

TEST(PaneTextRules, LoneCarriageReturnsAndLineFeedsBecomePairs) {
  EXPECT_EQ(NormalisePaneBytes("a\rb"), "a\r\nb");
  EXPECT_EQ(NormalisePaneBytes("a\nb"), "a\r\nb");
  EXPECT_EQ(NormalisePaneBytes("a\r\nb"), "a\r\nb");
  EXPECT_EQ(NormalisePaneBytes("\r\r\n"), "\r\n\r\n");
  EXPECT_EQ(NormalisePaneBytes("\n\r"), "\r\n\r\n");
  EXPECT_EQ(NormalisePaneBytes("end\r"), "end\r\n");
}

TEST(PaneTextRules, TheTextEndsAtTheFirstZeroByte) {
  EXPECT_EQ(NormalisePaneBytes(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(NormalisePaneBytes(std::string("\0x", 2)), "");
  EXPECT_EQ(PaneTextFromBytes(std::string("ab\0\r", 4)), u"ab");
  EXPECT_EQ(PaneBytesFromText(std::u16string(u"ab\0cd", 5)), "ab");
}

TEST(PaneTextDisplay, ValidUtf8ShowsAsCharactersOtherBytesAsEscapes) {
  EXPECT_EQ(PaneTextFromBytes("plain text"), u"plain text");
  EXPECT_EQ(PaneTextFromBytes("one\r\ntwo"), u"one\ntwo");
  EXPECT_EQ(PaneTextFromBytes(Bytes({0xC3, 0xA9})), u"\u00E9");
  EXPECT_EQ(PaneTextFromBytes(Bytes({0xF0, 0x9F, 0x98, 0x80})), u"\U0001F600");
  EXPECT_EQ(PaneTextFromBytes(Bytes({'a', 0xFF, 'b'})), (std::u16string{u'a', Escape(0xFF), u'b'}));
  // Overlong forms, surrogates, code points above U+10FFFF and cut sequences are not valid UTF-8.
  EXPECT_EQ(PaneTextFromBytes(Bytes({0xC0, 0x80})), (std::u16string{Escape(0xC0), Escape(0x80)}));
  EXPECT_EQ(PaneTextFromBytes(Bytes({0xED, 0xA0, 0x80})),
            (std::u16string{Escape(0xED), Escape(0xA0), Escape(0x80)}));
  EXPECT_EQ(PaneTextFromBytes(Bytes({0xF4, 0x90, 0x80, 0x80})),
            (std::u16string{Escape(0xF4), Escape(0x90), Escape(0x80), Escape(0x80)}));
  EXPECT_EQ(PaneTextFromBytes(Bytes({0xE2, 0x82})), (std::u16string{Escape(0xE2), Escape(0x82)}));
  // After a bad lead byte decoding starts again at the next byte.
  EXPECT_EQ(PaneTextFromBytes(Bytes({0xE2, 0xC3, 0xA9})), (std::u16string{Escape(0xE2), u'\u00E9'}));
}

TEST(PaneTextDisplay, SequencesThatWouldNotComeBackAreEscapedByteByByte) {
  // U+F780 and U+F7FF are escapes themselves; U+2029 and U+FDD0/U+FDD1 become line breaks in the
  // text control.
  const struct {
    std::string bytes;
  } cases[] = {{Bytes({0xEF, 0x9E, 0x80})},
               {Bytes({0xEF, 0x9F, 0xBF})},
               {Bytes({0xE2, 0x80, 0xA9})},
               {Bytes({0xEF, 0xB7, 0x90})},
               {Bytes({0xEF, 0xB7, 0x91})}};
  for (const auto& c : cases) {
    std::u16string expected;
    for (char byte : c.bytes) expected.push_back(Escape(static_cast<std::uint8_t>(byte)));
    EXPECT_EQ(PaneTextFromBytes(c.bytes), expected);
    EXPECT_EQ(RoundTrip(c.bytes), c.bytes);
  }
  // Neighbours of the escape range are ordinary characters.
  EXPECT_EQ(PaneTextFromBytes(Bytes({0xEF, 0x9D, 0xBF})), u"\uF77F");
  EXPECT_EQ(PaneTextFromBytes(Bytes({0xEF, 0xA0, 0x80})), u"\uF800");
}

TEST(PaneTextInput, TypedTextIsUtf8WithCrLfBreaks) {
  EXPECT_EQ(PaneBytesFromText(u"a\nb"), "a\r\nb");
  EXPECT_EQ(PaneBytesFromText(u"a\rb"), "a\r\nb");
  EXPECT_EQ(PaneBytesFromText(u"a\r\nb"), "a\r\nb");
  EXPECT_EQ(PaneBytesFromText(u"a\u2029b"), "a\r\nb");
  EXPECT_EQ(PaneBytesFromText(u"\u00E9\U0001F600"), Bytes({0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(PaneBytesFromText(std::u16string{Escape(0x80), Escape(0xC8), Escape(0xFF)}),
            Bytes({0x80, 0xC8, 0xFF}));
  // Below U+F780 the private-use characters are text like any other.
  EXPECT_EQ(PaneBytesFromText(u"\uF741"), Bytes({0xEF, 0x9D, 0x81}));
  // An unpaired surrogate cannot be written in UTF-8.
  EXPECT_EQ(PaneBytesFromText(std::u16string{u'x', char16_t(0xD800), u'y'}),
            Bytes({'x', 0xEF, 0xBF, 0xBD, 'y'}));
}

}  // namespace
}  // namespace veilora
