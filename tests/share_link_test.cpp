#include "share_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <random>
#include <string>

#include "test_support.h"

namespace {

using namespace std::literals;
using quenvar::test::utf8;

const std::u16string kHome = u"http://pan.baidu.com/share/home?uk=";

// The link the user is given, or "unsupported".
std::string outcome(std::u16string_view input) {
  const quenvar::RepairResult result = quenvar::repairShareLink(input);
  return result.repaired() ? utf8(*result.homeLink) : "unsupported";
}

struct Case {
  const char* name;
  std::u16string_view input;
  std::optional<std::u16string_view> key;  // what follows the home link's prefix; none: unsupported
};
constexpr std::nullopt_t kUnsupported = std::nullopt;

const Case kCases[] = {
    // Ordinary links.
    {"uk query with ten digits", u"https://pan.baidu.com/share/link?shareid=123&uk=1234567890",
     u"1234567890"},
    {"only the marker and key", u"=0123456789", u"0123456789"},
    {"key need not be digits", u"x=ab cd!?\u4E2D .", u"ab cd!?\u4E2D ."},
    {"hint text left in front",
     u"\u5728\u6B64\u8F93\u5165\u5DF2\u7ECF\u5931\u6548\u7684\u8D44\u6E90\u94FE\u63A5"
     u"http://pan.baidu.com/share/link?uk=2233445566",
     u"2233445566"},
    {"only the last eleven units matter", u"==========x=1234567890", u"1234567890"},
    {"marker repeated inside the key", u"x=12345=7890", u"12345=7890"},
    {"eleven units, marker second of them", u"a==========", kUnsupported},
    {"key that is all markers", u"===========", u"=========="},

    // Off by one in either length.
    {"nine-unit key", u"uk=123456789", kUnsupported},
    {"eleven-unit key", u"uk=12345678901", kUnsupported},
    {"marker tenth from the end", u"abcd=123456789", kUnsupported},
    {"marker twelfth from the end", u"=x1234567890", kUnsupported},

    // Nothing is trimmed or folded.
    {"trailing space", u"uk=1234567890 ", kUnsupported},
    {"trailing tab", u"uk=1234567890\t", kUnsupported},
    {"trailing line feed", u"uk=1234567890\n", kUnsupported},
    {"trailing CRLF", u"uk=1234567890\r\n", kUnsupported},
    {"leading space kept in key", u"uk= 234567890", u" 234567890"},
    {"full-width equals sign", u"uk\uFF1D1234567890", kUnsupported},
    {"full-width digits are kept as they are",
     u"=\uFF11\uFF12\uFF13\uFF14\uFF15\uFF16\uFF17\uFF18\uFF19\uFF10",
     u"\uFF11\uFF12\uFF13\uFF14\uFF15\uFF16\uFF17\uFF18\uFF19\uFF10"},
    {"upper-case key unchanged", u"UK=ABCDEFGHIJ", u"ABCDEFGHIJ"},

    // Code units, not code points: a surrogate pair counts two.
    {"key ends in a surrogate pair", u"uk=12345678\U0001F600", u"12345678\U0001F600"},
    {"surrogate pair makes nine code points", u"=1234567\U0001F600\U0001F600", kUnsupported},
    {"eleven code points but twelve units", u"=123456789\U0001F600", kUnsupported},
    // A low surrogate left over from a pair split at the marker.
    {"key cuts through a surrogate pair",
     u"=\xDE00"
     u"123456789",
     u"\xDE00"
     u"123456789"},

    // Short inputs.
    {"empty input", u"", kUnsupported},
    {"marker alone", u"=", u"="},
    {"short input starting with the marker", u"=12345", u"=12345"},
    {"ten units starting with the marker", u"=123456789", u"=123456789"},
    {"short input not starting with the marker", u"1=2345", kUnsupported},
    {"ten units without the marker", u"1234567890", kUnsupported},
    {"eleven units, marker first", u"=abcdefghij", u"abcdefghij"},
    {"eleven units, marker second", u"a=bcdefghij", kUnsupported},
    {"embedded NUL counts as a unit", u"=123\u000056789"sv, u"=123\u000056789"sv},
};

TEST(RepairShareLink, GivesTheExpectedOutcome) {
  EXPECT_EQ(utf8(quenvar::kHomeLinkPrefix), utf8(kHome)) << "the service's home page";
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome(c.input), c.key ? utf8(kHome + std::u16string(*c.key)) : "unsupported")
        << "input \"" << utf8(c.input) << "\"";
  }
}

TEST(RepairShareLink, RepairsOnlyWithTheMarkerElevenUnitsFromTheEnd) {
  // Or at the first unit, when the text is shorter.
  for (std::size_t length = 0; length <= 20; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      std::u16string input(length, u'7');
      input[at] = u'=';
      const bool expected = (length >= 11) ? (length - at == 11) : (at == 0);
      const auto result = quenvar::repairShareLink(input);
      EXPECT_EQ(result.repaired(), expected) << "length " << length << ", marker at " << at;
      if (result.repaired()) {
        EXPECT_EQ(result.homeLink->size(), kHome.size() + std::min<std::size_t>(length, 10));
      }
    }
  }
}

TEST(RepairShareLink, OnlyTheLastElevenUnitsDecide) {
  // Streaming callers pass only the tail; it must give the same outcome as the whole text.
  std::minstd_rand next(12345);
  const char16_t alphabet[] = {u'=', u'a', u'1', u' ', u'\r', 0xD83D, 0xDE00, 0x4E2D};
  for (int round = 0; round < 5000; ++round) {
    std::u16string input(next() % 30, u'x');
    for (char16_t& c : input)
      c = alphabet[next() % std::size(alphabet)];
    const std::u16string_view tail =
        std::u16string_view(input).substr(input.size() - std::min<std::size_t>(11, input.size()));
    const auto whole = quenvar::findUserKey(input);
    const auto fromTail = quenvar::findUserKey(tail);
    ASSERT_EQ(whole.has_value(), fromTail.has_value()) << utf8(input);
    if (whole) {
      EXPECT_EQ(utf8(*whole), utf8(*fromTail)) << utf8(input);
    }
    EXPECT_EQ(quenvar::repairShareLink(input).repaired(), whole.has_value());
  }
}

}  // namespace
