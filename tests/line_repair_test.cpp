// The command line's line reader: splitting, terminators, UTF-8 checking and counting in UTF-16
// code units, whatever the chunks the input arrives in.
#include "line_repair.h"

#include "console_text.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using quenvar::cli::LineOutcome;
using quenvar::cli::LineRepairer;

// Each line as the program would print it: the home link, "-" for unsupported, "!" for invalid.
std::vector<std::string> run(const std::string& input, std::size_t chunk) {
  std::vector<std::string> lines;
  LineRepairer repairer;
  auto onLine = [&](const quenvar::cli::LineResult& r) {
    if (r.outcome == LineOutcome::Repaired) {
      lines.push_back(std::string(quenvar::cli::homeLinkPrefixUtf8()) + std::string(r.key()));
    } else {
      lines.push_back(r.outcome == LineOutcome::Unsupported ? "-" : "!");
    }
  };
  // Each chunk in a heap block of its own size, so that a read past either end of it fails
  // under AddressSanitizer.
  for (std::size_t at = 0; at < input.size(); at += chunk) {
    const std::vector<char> piece(
        input.begin() + static_cast<long>(at),
        input.begin() + static_cast<long>(std::min(at + chunk, input.size())));
    repairer.feed(piece.data(), piece.size(), onLine);
  }
  repairer.finish(onLine);
  return lines;
}

const std::string P = "http://pan.baidu.com/share/home?uk=";

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> expected;
  friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

const Case kCases[] = {
    {"empty input has no lines", "", {}},
    {"one link with newline", "a?uk=1234567890\n", {P + "1234567890"}},
    {"last line without newline", "a?uk=1234567890", {P + "1234567890"}},
    {"CRLF terminator removed", "a?uk=1234567890\r\n", {P + "1234567890"}},
    {"empty lines are unsupported inputs", "\n\n", {"-", "-"}},
    {"blank CRLF line", "\r\n", {"-"}},
    {"trailing CR without LF is content", "a?uk=1234567890\r", {"-"}},
    {"lone CR inside a line is content", "uk=12345\r67890\n", {"-"}},
    {"CR before CRLF: only one goes", "uk=1234567890\r\r\n", {"-"}},
    {"trailing space counts", "uk=1234567890 \n", {"-"}},
    {"mixed outcomes line up", "=1\nno\nx=abcdefghij\n", {P + "=1", "-", P + "abcdefghij"}},
    {"Chinese key in UTF-8", "链接=一二三四五六七八九十\n", {P + "一二三四五六七八九十"}},
    {"character outside the BMP counts two units", "x=12345678😀\n", {P + "12345678😀"}},
    {"eleven code points but twelve units", "=123456789😀\n", {"-"}},
    {"overlong encoding rejected", "uk=12345678\xC0\xAF\n", {"!"}},
    {"encoded surrogate rejected", "uk=1234567\xED\xA0\x80\n", {"!"}},
    {"beyond U+10FFFF rejected", "uk=123456\xF4\x90\x80\x80\n", {"!"}},
    {"stray continuation byte", "\x80uk=1234567890\n", {"!"}},
    {"truncated sequence at line end", "uk=1234567890\xE4\xB8\n", {"!"}},
    {"truncated sequence at end of input", "uk=1234567890\xE4", {"!"}},
    {"invalid line does not stop the next", "\xFF\nx=1234567890\n", {"!", P + "1234567890"}},
    {"invalid byte early in a long line",
     std::string("\xFE") + std::string(5000, 'a') + "=1234567890\n",
     {"!"}},
};

class LineReader : public testing::TestWithParam<Case> {};

TEST_P(LineReader, GivesTheSameLinesWhateverTheChunkSize) {
  const Case& c = GetParam();
  for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7},
                            std::size_t{64}, std::size_t{1} << 20}) {
    EXPECT_EQ(run(c.input, chunk), c.expected) << "chunks of " << chunk;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LineReader, testing::ValuesIn(kCases), quenvar::test::CaseName());

TEST(LineReaderLongLines, KeepsOnlyTheTailOfAMultiMegabyteLine) {
  std::string line(6u << 20, 'x');
  line += "=一二三四五六七八九十\r\n";
  EXPECT_EQ(run(line, 1u << 18), std::vector<std::string>{P + "一二三四五六七八九十"});
  EXPECT_EQ(run(line, 3), std::vector<std::string>{P + "一二三四五六七八九十"});
}

// A bad byte anywhere in a long ASCII line, which the reader checks in blocks, is found, however
// the line is cut into chunks and wherever it starts in memory.
TEST(LineReaderBlocks, OneBadByteAnywhereInALongLineIsFound) {
  const std::string good = std::string(200, 'a') + "=1234567890";
  for (std::size_t at = 0; at < good.size(); ++at) {
    std::string bad = good;
    bad[at] = '\xFF';
    for (std::size_t shift : {0u, 1u, 7u}) {
      const std::string input = std::string(shift, 'x') + "\n" + bad + "\n" + good + "\n";
      for (std::size_t chunk : {std::size_t{16}, std::size_t{64}, input.size()}) {
        SCOPED_TRACE("bad byte at " + std::to_string(at) + ", chunks of " + std::to_string(chunk));
        EXPECT_EQ(run(input, chunk), (std::vector<std::string>{"-", "!", P + "1234567890"}));
      }
    }
  }
}

// Whole buffers of every length, so that the block loads meet every end (under AddressSanitizer a
// load past the end fails), give what one byte at a time gives.
TEST(LineReaderBlocks, EveryBufferLengthIsReadWithinTheBuffer) {
  std::string text;
  while (text.size() < 300)
    text += "https://pan.baidu.com/share/link?uk=1234567890\n链接=一二三四五六七八九十\r\n";
  for (std::size_t n = 1; n <= 300; ++n) {
    const std::string prefix = text.substr(0, n);
    EXPECT_EQ(run(prefix, n), run(prefix, 1)) << n << " bytes";
  }
}

// Console reads as the console gives them: UTF-16 pieces, which may end between the halves of a
// character outside the BMP, and Ctrl+Z, which ends input.
TEST(ConsoleText, PiecesBecomeTheTextTheLineReaderTakes) {
  const struct {
    const char* name;
    std::vector<std::u16string> pieces;
    std::string text;
    bool ended;
  } cases[] = {
      {"a pair split between reads is joined",
       {u"x=12345678\xD83D", u"\xDE00\r\n"},
       "x=12345678\xF0\x9F\x98\x80\r\n",
       false},
      {"Ctrl+Z ends input and drops the rest",
       {u"abc\r\n",
        u"de\x1A"
        u"fg\r\n",
        u"hi"},
       "abc\r\nde",
       true},
      {"Ctrl+Z after a first half", {u"a\xD83D", u"\x1A"}, "a\xEF\xBF\xBD", true},
      {"a first half at the end of input", {u"a\xD83D"}, "a\xEF\xBF\xBD", false},
      {"a lone second half", {u"\xDE00z"}, "\xEF\xBF\xBDz", false},
      {"Chinese", {u"链接=一二三四五", u"六七八九十\r\n"}, "链接=一二三四五六七八九十\r\n", false},
  };
  for (const auto& c : cases) {
    quenvar::cli::ConsoleText console;
    std::string text;
    bool ended = false;
    for (const std::u16string& piece : c.pieces) {
      if (!ended)
        ended = console.append(piece, text);
    }
    if (!ended)
      console.finish(text);
    EXPECT_EQ(text, c.text) << c.name;
    EXPECT_EQ(ended, c.ended) << c.name;
  }
}

TEST(WholeTexts, ArgumentsUseTheSameRule) {
  EXPECT_EQ(quenvar::cli::repairUtf16(u"uk=1234567890").outcome, LineOutcome::Repaired);
  EXPECT_EQ(quenvar::cli::repairUtf16(u"长=一二三四五六七八九十").key(), "一二三四五六七八九十");
  EXPECT_EQ(quenvar::cli::repairUtf16(u"=123456789\xD800").key(), "123456789\xEF\xBF\xBD");
  EXPECT_EQ(quenvar::cli::repairUtf16(u"uk=1234567890\n").outcome, LineOutcome::Unsupported);
  EXPECT_EQ(quenvar::cli::repairBytes("x=12345678\xF0\x9F\x98\x80").key(),
            "12345678\xF0\x9F\x98\x80");
  EXPECT_EQ(quenvar::cli::repairBytes("x=123456789\xFF").outcome, LineOutcome::InvalidUtf8);
}

}  // namespace
