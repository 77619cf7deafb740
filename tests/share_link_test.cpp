#include "share_link.h"

#include <gtest/gtest.h>

#include <ostream>

#include "test_support.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cctype>
#include <optional>
#include <string>

namespace {

using quenvar::repairShareLink;

using quenvar::test::CaseName;

std::string show(std::u16string_view s) {
  return quenvar::test::utf8(s);
}

std::u16string home(std::u16string_view key) {
  return u"http://pan.baidu.com/share/home?uk=" + std::u16string(key);
}

struct Case {
  const char* name;
  friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
  std::u16string input;
  std::optional<std::u16string> expected;  // nullopt: unsupported
};

const Case kCases[] = {
    // Ordinary links.
    {"uk query with ten digits", u"https://pan.baidu.com/share/link?shareid=123&uk=1234567890",
     home(u"1234567890")},
    {"only the marker and key", u"=0123456789", home(u"0123456789")},
    {"key need not be digits", u"x=ab cd!?\u4E2D .", home(u"ab cd!?\u4E2D .")},
    {"hint text left in front",
     u"\u5728\u6B64\u8F93\u5165\u5DF2\u7ECF\u5931\u6548\u7684\u8D44\u6E90\u94FE\u63A5"
     u"http://pan.baidu.com/share/link?uk=2233445566",
     home(u"2233445566")},
    {"only the last eleven units matter", u"==========x=1234567890", home(u"1234567890")},
    {"marker repeated inside the key", u"x=12345=7890", home(u"12345=7890")},
    {"eleven units, marker second of them", u"a==========", std::nullopt},
    {"key that is all markers", u"===========", home(u"==========")},

    // Off by one in either length.
    {"nine-unit key", u"uk=123456789", std::nullopt},
    {"eleven-unit key", u"uk=12345678901", std::nullopt},
    {"marker tenth from the end", u"abcd=123456789", std::nullopt},
    {"marker twelfth from the end", u"=x1234567890", std::nullopt},

    // Nothing is trimmed or folded.
    {"trailing space", u"uk=1234567890 ", std::nullopt},
    {"trailing tab", u"uk=1234567890\t", std::nullopt},
    {"trailing line feed", u"uk=1234567890\n", std::nullopt},
    {"trailing CRLF", u"uk=1234567890\r\n", std::nullopt},
    {"leading space kept in key", u"uk= 234567890", home(u" 234567890")},
    {"full-width equals sign", u"uk\uFF1D1234567890", std::nullopt},
    {"full-width digits are kept as they are",
     u"=\uFF11\uFF12\uFF13\uFF14\uFF15\uFF16\uFF17\uFF18\uFF19\uFF10",
     home(u"\uFF11\uFF12\uFF13\uFF14\uFF15\uFF16\uFF17\uFF18\uFF19\uFF10")},
    {"upper-case key unchanged", u"UK=ABCDEFGHIJ", home(u"ABCDEFGHIJ")},

    // Code units, not code points: a surrogate pair counts two.
    {"key ends in a surrogate pair", u"uk=12345678\U0001F600", home(u"12345678\U0001F600")},
    {"surrogate pair makes nine code points", u"=1234567\U0001F600\U0001F600", std::nullopt},
    {"eleven code points but twelve units", u"=123456789\U0001F600", std::nullopt},
    {"key cuts through a surrogate pair",
     u"=\xDE00"
     u"123456789",  // low surrogate left over from a pair split at the marker
     home(u"\xDE00"
          u"123456789")},

    // Short inputs.
    {"empty input", u"", std::nullopt},
    {"marker alone", u"=", home(u"=")},
    {"short input starting with the marker", u"=12345", home(u"=12345")},
    {"ten units starting with the marker", u"=123456789", home(u"=123456789")},
    {"short input not starting with the marker", u"1=2345", std::nullopt},
    {"ten units without the marker", u"1234567890", std::nullopt},
    {"eleven units, marker first", u"=abcdefghij", home(u"abcdefghij")},
    {"eleven units, marker second", u"a=bcdefghij", std::nullopt},
    {"embedded NUL counts as a unit",
     std::u16string(u"=123\0"
                    u"56789",
                    10),
     home(std::u16string(u"=123\0"
                         u"56789",
                         10))},
};

class RepairShareLink : public testing::TestWithParam<Case> {};

TEST_P(RepairShareLink, GivesTheExpectedOutcome) {
  const Case& c = GetParam();
  const quenvar::RepairResult result = repairShareLink(c.input);
  ASSERT_EQ(result.repaired(), c.expected.has_value())
      << "input \"" << show(c.input) << "\" gave "
      << (result.repaired() ? "link \"" + show(*result.homeLink) + "\"" : "unsupported");
  if (c.expected) {
    EXPECT_EQ(show(*result.homeLink), show(*c.expected)) << "input \"" << show(c.input) << "\"";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RepairShareLink, testing::ValuesIn(kCases), CaseName());

TEST(RepairShareLinkProperties, MarkerPositionScan) {
  // Slide the marker across every position of a 20-unit text: only offset 11 from the end
  // (or the first unit, when the text is shorter) may repair.
  for (std::size_t length = 0; length <= 20; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      std::u16string input(length, u'7');
      input[at] = u'=';
      const bool expected = (length >= 11) ? (length - at == 11) : (at == 0);
      const auto result = repairShareLink(input);
      EXPECT_EQ(result.repaired(), expected) << "length " << length << ", marker at " << at;
      if (result.repaired()) {
        EXPECT_EQ(result.homeLink->size(), 35 + std::min<std::size_t>(length, 10));
      }
    }
  }
}

TEST(RepairShareLinkProperties, PrefixIsTheServiceHomePage) {
  EXPECT_EQ(show(quenvar::kHomeLinkPrefix), "http://pan.baidu.com/share/home?uk=");
}

}  // namespace

namespace {

TEST(RepairShareLinkProperties, OnlyTheLastElevenUnitsDecide) {
  // Streaming callers pass only the tail; it must give the same outcome as the whole text.
  std::uint32_t state = 12345;
  auto next = [&] {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  const char16_t alphabet[] = {u'=', u'a', u'1', u' ', u'\r', 0xD83D, 0xDE00, 0x4E2D};
  for (int round = 0; round < 5000; ++round) {
    std::u16string input(next() % 30, u'x');
    for (char16_t& c : input)
      c = alphabet[next() % std::size(alphabet)];
    const std::u16string_view tail =
        std::u16string_view(input).substr(input.size() - std::min<std::size_t>(11, input.size()));
    const auto whole = quenvar::findUserKey(input);
    const auto fromTail = quenvar::findUserKey(tail);
    ASSERT_EQ(whole.has_value(), fromTail.has_value()) << show(input);
    if (whole) {
      EXPECT_EQ(show(*whole), show(*fromTail)) << show(input);
    }
    EXPECT_EQ(quenvar::repairShareLink(input).repaired(), whole.has_value());
  }
}

}  // namespace
