// Repairs a stream of UTF-8 lines with the share-link rule, in constant memory: of each line only
// the last few UTF-16 code units are kept, however long the line is, because only they decide the
// outcome. The whole line is still checked to be valid UTF-8.
#pragma once

#include <array>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenvar::cli {

enum class LineOutcome { Repaired, Unsupported, InvalidUtf8 };

struct LineResult {
  LineOutcome outcome;
  std::u16string_view key;  // the user key when repaired; valid until the next line
};

// Decodes UTF-8 and keeps the last units of the text seen so far.
class TailDecoder {
 public:
  void consume(const char* data, std::size_t size);
  // Ends the text; `stripCarriageReturn` removes one trailing '\r' (the CR of a CRLF).
  LineResult finish(bool stripCarriageReturn);
  void reset() { *this = TailDecoder(); }

 private:
  void push(char16_t unit);
  bool valid_ = true;
  int pending_ = 0;  // continuation bytes still expected
  std::uint32_t codePoint_ = 0;
  std::uint8_t secondMin_ = 0x80, secondMax_ = 0xBF;
  bool atSecond_ = false;
  static constexpr std::size_t kKept = 12;  // one more than decides, so a trailing CR can go
  std::array<char16_t, kKept> ring_{};
  std::uint64_t units_ = 0;
  std::array<char16_t, kKept> tail_{};
};

// Splits a byte stream into lines ('\n' or "\r\n" ends a line) and repairs each.
class LineRepairer {
 public:
  // Calls onLine(const LineResult&) for every line the chunk completes.
  template <typename OnLine>
  void feed(const char* data, std::size_t size, OnLine&& onLine);
  // A last line without a terminator still counts.
  template <typename OnLine>
  void finish(OnLine&& onLine);

 private:
  LineResult completeLine(const char* data, std::size_t size);
  TailDecoder decoder_;
  bool inLine_ = false;  // part of the current line came in an earlier chunk
  std::array<char16_t, 11> asciiTail_{};
};

// The rule applied to a whole text already in UTF-16 (a Windows command-line argument).
LineResult repairText(std::u16string_view text);

// Writes UTF-8 for the units to `out`, which has room for 3 bytes a unit; returns the length.
// An unpaired surrogate becomes U+FFFD.
std::size_t encodeUtf8(std::u16string_view units, char* out);
void appendUtf8(std::string& out, std::u16string_view units);

// The home-link prefix in UTF-8.
std::string_view homeLinkPrefixUtf8();

// ---- template definitions ----

template <typename OnLine>
void LineRepairer::feed(const char* data, std::size_t size, OnLine&& onLine) {
  while (size > 0) {
    const auto* newline = static_cast<const char*>(std::memchr(data, '\n', size));
    const std::size_t length = newline ? static_cast<std::size_t>(newline - data) : size;
    if (newline == nullptr) {
      if (!inLine_)
        decoder_.reset();
      inLine_ = true;
      decoder_.consume(data, length);
      return;
    }
    if (inLine_) {
      decoder_.consume(data, length);
      onLine(decoder_.finish(true));
      decoder_.reset();
      inLine_ = false;
    } else {
      onLine(completeLine(data, length));
    }
    data += length + 1;
    size -= length + 1;
  }
}

template <typename OnLine>
void LineRepairer::finish(OnLine&& onLine) {
  if (!inLine_)
    return;
  // No terminator: a trailing '\r' is content, not half of a CRLF.
  onLine(decoder_.finish(false));
  decoder_.reset();
  inLine_ = false;
}

}  // namespace quenvar::cli
