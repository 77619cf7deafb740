// The link scanner: which links name a sharer, in every form they are written in, which are
// keyless share links, and on which line each was, however the input is cut into pieces.
#include "scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using quenvar::cli::LinkScanner;

struct Found {
  std::vector<std::string> links;  // "key@line"
  std::uint64_t keyless = 0;
  bool operator==(const Found&) const = default;
  friend void PrintTo(const Found& f, std::ostream* os) {
    for (const std::string& link : f.links)
      *os << link << ' ';
    *os << "keyless " << f.keyless;
  }
};

// Fed in two pieces, cut at `cut`, each in a heap block of exactly its size so that the address
// sanitizer catches a read past either end.
Found scan(const std::string& input, std::size_t cut) {
  Found found;
  LinkScanner scanner;
  auto onLink = [&](std::string_view key, std::uint64_t line) {
    found.links.push_back(std::string(key) + "@" + std::to_string(line));
  };
  for (const std::string_view piece :
       {std::string_view(input).substr(0, cut), std::string_view(input).substr(cut)}) {
    const auto block = std::make_unique<char[]>(piece.size());
    std::copy(piece.begin(), piece.end(), block.get());
    scanner.feed(block.get(), piece.size(), onLink);
  }
  scanner.finish(onLink);
  found.keyless = scanner.keylessLinks();
  return found;
}

std::string utf16(const std::string& ascii, bool littleEndian) {
  std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
  for (char c : ascii) {
    // A byte above 0x7F stands for a Chinese character, U+4E2D.
    const char low = static_cast<unsigned char>(c) < 0x80 ? c : '\x2D';
    const char high = static_cast<unsigned char>(c) < 0x80 ? '\0' : '\x4E';
    out += littleEndian ? std::string{low, high} : std::string{high, low};
  }
  return out;
}

const std::string H = "pan.baidu.com/share/home?uk=";
// The same link percent-encoded, once and twice.
const std::string E = "pan.baidu.com%2Fshare%2Fhome%3Fuk%3D";
const std::string E2 = "pan.baidu.com%252Fshare%252Fhome%253Fuk%253D";

// Lines of 1 to 40 bytes, newlines at every place of a block the scanner skips at once.
const std::string kLines = [] {
  std::string lines;
  for (std::size_t i = 1; i <= 40; ++i)
    lines += std::string(i, 'a') + "\n";
  return lines;
}();

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> links;
  std::uint64_t keyless = 0;
  friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

const Case kCases[] = {
    {"uk after another parameter", "https://pan.baidu.com/share/link?shareid=9&uk=123", {"123@1"}},
    {"uk first", "http://pan.baidu.com/share/home?uk=456", {"456@1"}},
    {"uk not last", H + "7&view=share#category/type=0", {"7@1"}},
    {"the first valid uk", H + "&uk=x&uk=8&uk=9", {"8@1"}},
    {"HTML &amp;", "<a href=\"https://pan.baidu.com/share/link?shareid=1&amp;uk=88\">", {"88@1"}},
    {"HTML &#38;", "https://pan.baidu.com/share/link?shareid=1&#38;uk=89", {"89@1"}},
    {"JSON \\/ and \\u0026",
     R"({"u":"https:\/\/pan.baidu.com\/share\/link?shareid=1\u0026uk=90"})",
     {"90@1"}},
    {"percent-encoded in a redirect",
     "https://www.baidu.com/link?url=https%3A%2F%2Fpan.baidu.com%2Fshare%2Flink%3Fshareid%3D1%"
     "26uk%3D91&x=1",
     {"91@1"}},
    {"percent-encoded in lower case",
     "u=http%3a%2f%2fpan.baidu.com%2fshare%2fhome%3fuk%3d92",
     {"92@1"}},
    {"an escape is decoded once", "pan.baidu.com/share/home?x=1&amp;amp;uk=2", {}},
    {"an escape's host character before the host",
     "%2Fpan.baidu.com/?uk=3 \\u0026pan.baidu.com/?uk=4  \\u0026www.pan.baidu.com/?uk=5",
     {"3@1", "4@1", "5@1"}},
    {"host in capitals, no scheme", "PAN.BAIDU.COM/share/home?uk=94", {"94@1"}},
    {"www. in any case",
     "Www.Pan.Baidu.Com/share/home?uk=95 x:www.yun.baidu.com/?uk=96",
     {"95@1", "96@1"}},
    {"yun. after //", "//yun.baidu.com/share/home?uk=96", {"96@1"}},
    {"? right after the host", "pan.baidu.com?uk=97", {"97@1"}},
    {"other hosts",
     "pan.baidu.com.cn/share/home?uk=1 xpan.baidu.com/?uk=2 www.baidu.com/s?uk=3 "
     "pan.baidu.com:80/?uk=4 a.www.pan.baidu.com/?uk=5 xu0026pan.baidu.com/?uk=6 ",
     {}},
    {"not named uk", H.substr(0, H.size() - 3) + "fuk=5&UK=6&u=7&k=8", {}},
    {"not a key", H + "12a " + H + " " + H + "-1 " + H + "1=2 " + H, {}},
    {"20 digits and 21",
     H + "12345678901234567890 " + H + "123456789012345678901",
     {"12345678901234567890@1"}},
    {"keys as written", H + "0123 " + H + "00", {"0123@1", "00@1"}},
    {"each end of a key",
     H + "1&x " + H + "2#x " + H + "3 x " + H + "4\"x " + H + "5<x " + H + "6'x " + H + "7)x " + H +
         "8]x " + H + "9\xE4\xB8\xADx " + H + "10" + std::string(1, '\0') + "x " + H + "11",
     {"1@1", "2@1", "3@1", "4@1", "5@1", "6@1", "7@1", "8@1", "9@1", "10@1", "11@1"}},
    {"each percent-encoded end of a key, in either case",
     "src=%22http%3A%2F%2Fpan.baidu.com%2Fshare%2Flink%3Fshareid%3D4%26uk%3D1%22 " + E + "2%27x " +
         E + "3%20x " + E + "4%3Cx " + E + "5%3ex " + E + "6%29x " + E + "7%5dx " + E + "8%2C%22 " +
         E + "9%E4%B8%AD " + E + "10%0A " + E + "11%7b " + E + "12.%22 " + E + "13%2c",
     {"1@1", "2@1", "3@1", "4@1", "5@1", "6@1", "7@1", "8@1", "9@1", "10@1", "11@1", "12@1",
      "13@1"}},
    {"percent-encoded twice",
     "u=http%253A%252F%252F" + E2 + "1%2522 " + E2 + "2%2526x " + E2 + "3%253C " + E2 + "4%2C " +
         E2 + "5%252c%2520 " + E + "6%2522 " + H + "7%2527",
     {"1@1", "2@1", "3@1", "4@1", "5@1", "6@1", "7@1"}},
    {"escapes that end no key",
     E + "1%41 " + E + "2%25 " + E + "3%2D " + E + "4%2Cx " + E + "5%2C%26 " + E + "%22",
     {}},
    {"an escape encoded twice is read as written in a link not encoded twice",
     "pan.baidu.com/share/link?x=%2526uk%253D1&uk=2 " + E + "3%2523&uk=4",
     {"2@1", "4@1"}},
    {"punctuation after a link",
     H + "1. " + H + "2, " + H + "3!) " + H + "4?? " + H + "5~",
     {"1@1", "2@1", "3@1", "4@1", "5@1"}},
    {"punctuation inside a link", H + "1.&x " + H + "2.3 " + H + "4,#", {}},
    {"forum and Markdown links",
     "[url=http://pan.baidu.com/share/home?uk=5]分享[/url] [url]" + H + "6[/url] [x](" + H + "7)",
     {"5@1", "6@1", "7@1"}},
    {"keyless share links",
     "https://pan.baidu.com/s/1AbC pan.baidu.com/share/init?surl=AbC pan.baidu.com/share/init?"
     "surl. yun.baidu.com/s/1x?pwd=ab",
     {},
     4},
    {"links that count for nothing",
     "pan.baidu.com/S/1AbC pan.baidu.com/share/home pan.baidu.com/s pan.baidu.com/x?surly=1 "
     "pan.baidu.com/s#/s/",
     {}},
    {"a key makes a share link no keyless one", "pan.baidu.com/s/1Ab?uk=5&surl=x", {"5@1"}},
    {"a host name ends the link before it",
     H + "1&pan.baidu.com/s/2 " + H + "3,pan.baidu.com/x?uk=4 " + H + "5pan.baidu.com/s/6 " + H +
         "7,www.pan.baidu.com/?uk=8",
     {"1@1", "3@1", "4@1", "7@1", "8@1"},
     1},
    {"GBK around links", "\xC1\xB4\xBD\xD3\xA3\xBA" + H + "5\xC3\xDC\xC2\xEB", {"5@1"}},
    {"a letter or digit ends a GBK or GB18030 character, - and . do not",
     "\xBEW" + H + "1 \x81\x30\x81\x30www." + H + "2 a" + H + "3 \xB1-" + H + "4 \xB1." + H + "5",
     {"1@1", "2@1"}},
    {"UTF-8 around links", "链接：" + H + "6，密码 链接:" + H + "7 密码", {"6@1", "7@1"}},
    {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + H + "8", {"8@1"}},
    {"UTF-16LE", utf16("\xAA:" + H + "9\xAA\n" + H + "10", true), {"9@1", "10@2"}},
    {"UTF-16BE", utf16("\xAA:" + H + "9\xAA\n" + H + "10", false), {"9@1", "10@2"}},
    {"bytes that look like a byte-order mark",
     "\xFF" + H + "11 \xEF\xBB" + H + "12",
     {"11@1", "12@1"}},
    {"line numbers",
     "a\nb\r\n\n" + H + "1\nx " + H + "2\n\n\xE4\xB8\xAD\n" + H + "3 " + kLines + H + "4",
     {"1@4", "2@5", "3@8", "4@48"}},
    {"no links", "", {}},
};

class Scanner : public testing::TestWithParam<Case> {};

// Whole, cut in two at every place, and (unless a byte-order mark must come first) among text
// long enough for the block scan, at every alignment.
TEST_P(Scanner, FindsTheSameLinksHoweverTheInputIsCut) {
  const Case& c = GetParam();
  const Found expected{c.links, c.keyless};
  const std::string filler =
      " Lorem <b>ipsum</b> tieba.baidu.com/f?kw=1 hm.baidu.com/hm.js?x BAIDU.com/ pan.baidu.co/ ";
  std::vector<std::string> inputs = {c.input};
  const bool bom = c.input.starts_with("\xFF\xFE") || c.input.starts_with("\xFE\xFF") ||
                   c.input.starts_with("\xEF\xBB\xBF");
  for (std::size_t shift = 0; shift < 16 && !bom; shift += 5)
    inputs.push_back(std::string(shift, 'x') + filler + c.input + filler);
  for (const std::string& input : inputs) {
    for (std::size_t cut = 0; cut <= input.size(); ++cut)
      ASSERT_EQ(scan(input, cut), expected) << "cut after " << cut << " of " << input.size();
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Scanner, testing::ValuesIn(kCases), quenvar::test::CaseName());

// Typed at a terminal, a sharer shows as its line ends, before any more input.
TEST(Scanner, ReportsALinkOnceABytePastItEndsIt) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {H + "5\n", {"5"}}, {E + "6%22\n", {"6"}}, {H + "7 pan.baidu.co", {"7"}},
      {H + "8", {}},      {H + "9\\", {}},
  };
  for (const auto& [piece, keys] : cases) {
    LinkScanner scanner;
    std::vector<std::string> found;
    scanner.feed(piece.data(), piece.size(),
                 [&](std::string_view key, std::uint64_t) { found.emplace_back(key); });
    EXPECT_EQ(found, keys) << piece;
  }
}

// Line ends counted in long runs with no link (blank lines, padding), past what one byte counter
// of a block scan holds.
TEST(Scanner, CountsLongRunsOfLineEnds) {
  for (const std::size_t lineEnds : {4095u, 8128u, 16320u, 20000u, 100000u}) {
    const std::string input = std::string(lineEnds, '\n') + "x " + H + "1";
    EXPECT_EQ(scan(input, input.size() / 3), (Found{{"1@" + std::to_string(lineEnds + 1)}}))
        << lineEnds << " line ends";
  }
}

TEST(SharerTable, KeepsKeysInOrderWithTheirCountsAndFirstPlace) {
  quenvar::cli::SharerTable table;
  table.add("5", 0, 3);
  table.add("0123", 1, 1);
  table.add("5", 1, 9);
  table.add("123", 2, 2);
  table.addKeyless(3);
  std::vector<std::string> rows;
  for (const auto& s : table.sharers()) {
    rows.push_back(s.key + " " + std::to_string(s.links) + " " + std::to_string(s.input) + ":" +
                   std::to_string(s.line));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"5 2 0:3", "0123 1 1:1", "123 1 2:2"}));
  EXPECT_EQ(table.links(), 4u);
  EXPECT_EQ(table.keylessLinks(), 3u);
}

// Two keys whose hashes agree in the bits the table first looks at.
TEST(SharerTable, TellsKeysApartWhoseHashesMeet) {
  quenvar::cli::SharerTable table;
  table.add("695109", 0, 1);
  table.add("2884011", 0, 2);
  table.add("2884011", 0, 3);
  ASSERT_EQ(table.sharers().size(), 2u);
  EXPECT_EQ(table.sharers()[1].links, 2u);
}

TEST(SharerTable, StaysRightAsItGrows) {
  quenvar::cli::SharerTable table;
  constexpr std::size_t kKeys = 5000;
  for (std::size_t round = 0; round < 2; ++round) {
    for (std::size_t i = 0; i < kKeys; ++i)
      table.add(std::to_string(i * 7919), round, i);
  }
  ASSERT_EQ(table.sharers().size(), kKeys);
  for (std::size_t i = 0; i < kKeys; ++i) {
    const auto& s = table.sharers()[i];
    ASSERT_EQ(s.key + " " + std::to_string(s.links) + " " + std::to_string(s.input) + ":" +
                  std::to_string(s.line),
              std::to_string(i * 7919) + " 2 0:" + std::to_string(i));
  }
}

}  // namespace
