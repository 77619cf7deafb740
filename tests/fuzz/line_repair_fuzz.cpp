// Feeds arbitrary bytes through the command line's line reader and the rule, in chunks whose size
// the input picks, and compares every line with a deliberately simple model written here.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "line_repair.h"

namespace {

// The model: plain, slow and obviously right.
std::vector<std::u16string> modelLines;

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

// "L" + key for a repaired line, "-" unsupported, "!" invalid UTF-8.
std::u16string modelLine(std::string line, bool terminated) {
  if (terminated && !line.empty() && line.back() == '\r')
    line.pop_back();
  std::u16string s;
  if (!decodeUtf8(line, s))
    return u"!";
  const std::size_t n = s.size();
  if (n >= 11)
    return s[n - 11] == u'=' ? u"L" + s.substr(n - 10) : u"-";
  return n > 0 && s[0] == u'=' ? u"L" + s : u"-";
}

std::vector<std::u16string> model(const std::string& input) {
  std::vector<std::u16string> lines;
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

std::vector<std::u16string> actual(const std::string& input, std::size_t chunk) {
  std::vector<std::u16string> lines;
  quenvar::cli::LineRepairer repairer;
  auto onLine = [&](const quenvar::cli::LineResult& r) {
    switch (r.outcome) {
      case quenvar::cli::LineOutcome::Repaired:
        lines.push_back(u"L" + std::u16string(r.key));
        break;
      case quenvar::cli::LineOutcome::Unsupported:
        lines.push_back(u"-");
        break;
      case quenvar::cli::LineOutcome::InvalidUtf8:
        lines.push_back(u"!");
        break;
    }
  };
  for (std::size_t at = 0; at < input.size(); at += chunk) {
    repairer.feed(input.data() + at, std::min(chunk, input.size() - at), onLine);
  }
  repairer.finish(onLine);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::size_t chunk = static_cast<std::size_t>(data[0] % 17) + 1;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::vector<std::u16string> expected = model(input);
  if (actual(input, chunk) != expected || actual(input, input.size() + 1) != expected)
    std::abort();
  return 0;
}
