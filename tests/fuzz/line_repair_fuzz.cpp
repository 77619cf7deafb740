// Feeds arbitrary bytes through the command line's line reader and the rule, in chunks whose size
// the input picks, and compares every line with a deliberately simple model written here.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "line_repair.h"

namespace {

// The model: plain, slow and obviously right.

bool decodeUtf8(const std::string& bytes, std::u16string& units) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    std::size_t length = b < 0x80         ? 1
                         : (b >> 5) == 6  ? 2
                         : (b >> 4) == 14 ? 3
                         : (b >> 3) == 30 ? 4
                                          : 0;
    if (length == 0 || i + length > bytes.size())
      return false;
    std::uint32_t c = length == 1   ? b
                      : length == 2 ? (b & 0x1F)
                      : length == 3 ? (b & 0x0F)
                                    : (b & 0x07);
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next >> 6) != 2)
        return false;
      c = (c << 6) | (next & 0x3F);
    }
    const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
      return false;
    if (c >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(c);
    }
    i += length;
  }
  return true;
}

// UTF-8 for a key; a lone surrogate becomes U+FFFD.
std::string encode(const std::u16string& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// "L" + key for a repaired line, "-" unsupported, "!" invalid UTF-8.
std::string modelLine(std::string line, bool terminated) {
  if (terminated && !line.empty() && line.back() == '\r')
    line.pop_back();
  std::u16string s;
  if (!decodeUtf8(line, s))
    return "!";
  const std::size_t n = s.size();
  if (n >= 11)
    return s[n - 11] == u'=' ? "L" + encode(s.substr(n - 10)) : "-";
  return n > 0 && s[0] == u'=' ? "L" + encode(s) : "-";
}

std::vector<std::string> model(const std::string& input) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] == '\n') {
      lines.push_back(modelLine(input.substr(start, i - start), true));
      start = i + 1;
    }
  }
  if (start < input.size())
    lines.push_back(modelLine(input.substr(start), false));
  return lines;
}

// The reader's lines, with the input at `offset` bytes into its buffer (the block loads see
// every alignment) and fed in chunks of `chunk` bytes (boundaries fall inside characters and
// between CR and LF).
std::vector<std::string> actual(const std::string& input, std::size_t offset, std::size_t chunk) {
  std::vector<char> buffer(offset + input.size());
  std::copy(input.begin(), input.end(), buffer.begin() + static_cast<long>(offset));
  const char* start = buffer.data() + offset;
  std::vector<std::string> lines;
  quenvar::cli::LineRepairer repairer;
  auto onLine = [&](const quenvar::cli::LineResult& r) {
    switch (r.outcome) {
      case quenvar::cli::LineOutcome::Repaired:
        lines.push_back("L" + std::string(r.key()));
        break;
      case quenvar::cli::LineOutcome::Unsupported:
        lines.push_back("-");
        break;
      case quenvar::cli::LineOutcome::InvalidUtf8:
        lines.push_back("!");
        break;
    }
  };
  for (std::size_t at = 0; at < input.size(); at += chunk)
    repairer.feed(start + at, std::min(chunk, input.size() - at), onLine);
  repairer.finish(onLine);
  return lines;
}

}  // namespace

// The first three bytes steer: the chunk size, the alignment, and how long a run of ASCII goes
// before each line's own bytes (so one bad byte may end a run longer than the reader's blocks).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3)
    return 0;
  static constexpr std::size_t kChunks[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,   11,
                                            13, 15, 16, 17, 31, 63, 64, 65, 128, 4096};
  const std::size_t chunk = kChunks[data[0] % std::size(kChunks)];
  const std::size_t offset = data[1] % 16;
  const std::size_t run = static_cast<std::size_t>(data[2] % 8) * 23;
  std::string input;
  bool lineStart = true;
  for (std::size_t i = 3; i < size; ++i) {
    if (lineStart)
      input.append(run, 'a');
    input += static_cast<char>(data[i]);
    lineStart = data[i] == '\n';
  }
  const std::vector<std::string> expected = model(input);
  if (actual(input, offset, chunk) != expected ||
      actual(input, offset, input.size() + 1) != expected)
    std::abort();
  return 0;
}
