// Repairs a stream of UTF-8 lines with the share-link rule, in constant memory and close to the
// speed of reading the input. Only the end of a line decides its outcome, so of a line that
// runs past a chunk only its last bytes are kept; every byte is still checked to be UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "share_link.h"

namespace quenvar::cli {

enum class LineOutcome { Repaired, Unsupported, InvalidUtf8 };

// A key of UserKeyLength units is at most three UTF-8 bytes a unit; the array has room to be
// copied in two halves of sixteen bytes.
inline constexpr std::size_t kKeyRoom = 32;
static_assert(3 * UserKeyLength <= kKeyRoom);

struct LineResult {
  LineOutcome outcome = LineOutcome::Unsupported;
  std::array<char, kKeyRoom> keyBytes{};  // the user key in UTF-8, when repaired
  std::uint8_t keyLength = 0;

  std::string_view key() const { return {keyBytes.data(), keyLength}; }
};

// A whole text of UTF-16 units, paired or not (a Windows command-line argument).
LineResult repairUtf16(std::u16string_view text);
// A whole text of bytes that may not be UTF-8 (a Linux command-line argument).
LineResult repairBytes(std::string_view text);

// Splits a byte stream into lines ('\n' or "\r\n" ends a line) and repairs each.
class LineRepairer {
 public:
  // Calls onLine(const LineResult&) for every line the chunk completes.
  template <typename OnLine>
  void feed(const char* data, std::size_t size, OnLine&& onLine) {
    checkedEnd_ = nullptr;
    while (size > 0) {
      const std::size_t used = decide(reinterpret_cast<const unsigned char*>(data), size);
      // Locals, not members, in the loop: a handler's stores of bytes may alias anything.
      for (const LineResult *r = results_.data(), *end = r + decided_; r != end; ++r)
        onLine(*r);
      data += used;
      size -= used;
    }
  }
  // A last line without a terminator still counts; its trailing '\r' is content.
  template <typename OnLine>
  void finish(OnLine&& onLine) {
    if (inLine_)
      onLine(endLine(false));
  }

 private:
  friend LineResult repairBytes(std::string_view text);

  // Checks UTF-8 piece by piece: a sequence may be split between pieces.
  class Utf8Checker {
   public:
    // False once anything seen so far is not UTF-8.
    bool check(const unsigned char* data, std::size_t size);
    // True when everything seen is UTF-8 and no sequence is left unfinished.
    bool complete() const { return valid_ && pending_ == 0; }

   private:
    const unsigned char* continueSequence(const unsigned char* p, const unsigned char* end);
    bool valid_ = true;
    std::uint8_t pending_ = 0;               // continuation bytes still expected
    std::uint8_t low_ = 0x80, high_ = 0xBF;  // the range allowed for the next one
  };

  // Lines are decided in batches, so the per-line work stays in one function of the .cpp and
  // the caller's handler is still called inline.
  static constexpr std::size_t kBatch = 256;
  // Decides up to kBatch lines from the start of the chunk; returns the bytes it used.
  std::size_t decide(const unsigned char* data, std::size_t size);
  void continueLine(const unsigned char* data, std::size_t size);
  LineResult endLine(bool newline);

  // Of a line longer than a chunk, only its last bytes are kept (see endLine for how many).
  static constexpr std::size_t kKeptBytes = 48;
  bool inLine_ = false;
  Utf8Checker partial_;
  std::uint64_t partialBytes_ = 0;
  std::array<unsigned char, kKeptBytes> kept_{};  // the partial line's last bytes, in a ring
  std::array<LineResult, kBatch> results_;
  std::size_t decided_ = 0;
  // How far the chunk being fed has been checked to be UTF-8, and whether it was.
  const unsigned char* checkedEnd_ = nullptr;
  bool checkedValid_ = false;
};

// Appends the units as UTF-8; an unpaired surrogate becomes U+FFFD.
void appendUtf8(std::string& out, std::u16string_view units);

// The home-link prefix in UTF-8, which for this ASCII text is its units as bytes.
inline constexpr auto kHomeLinkPrefixBytes = [] {
  std::array<char, kHomeLinkPrefix.size()> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(kHomeLinkPrefix[i]);
  return bytes;
}();
static_assert(std::u16string_view(kHomeLinkPrefix)
                  .find_first_not_of(
                      u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789:/.?=_-") ==
              std::u16string_view::npos);
constexpr std::string_view homeLinkPrefixUtf8() {
  return {kHomeLinkPrefixBytes.data(), kHomeLinkPrefixBytes.size()};
}

}  // namespace quenvar::cli
