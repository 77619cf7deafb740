// Repairs a stream of UTF-8 lines with the share-link rule, in constant memory and close to the
// speed of reading the input. Only the end of a line decides its outcome, so of a line that
// runs past a chunk only its last bytes are kept; every byte is still checked to be UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "share_link.h"

#include "simd.h"

namespace quenvar::cli {

enum class LineOutcome { Repaired, Unsupported, InvalidUtf8 };

// A key of UserKeyLength units is at most three UTF-8 bytes a unit; the array has room to be
// copied in two halves of sixteen bytes.
inline constexpr std::size_t kMaxKeyBytes = 3 * UserKeyLength;
inline constexpr std::size_t kKeyRoom = 32;
static_assert(kMaxKeyBytes <= kKeyRoom);

struct LineResult {
  LineOutcome outcome = LineOutcome::Unsupported;
  std::array<char, kKeyRoom> keyBytes{};  // the user key in UTF-8, when repaired
  std::uint8_t keyLength = 0;

  std::string_view key() const { return {keyBytes.data(), keyLength}; }
};

// The rule applied to the last units of a text (all of them, or at least MarkerOffset).
LineResult resultForTail(std::u16string_view tail);

// The rule applied to a whole text already in UTF-16 (a Windows command-line argument).
LineResult repairText(std::u16string_view text);

// Checks UTF-8 piece by piece: a sequence may be split between pieces.
class Utf8Checker {
 public:
  // False once anything seen so far is not UTF-8.
  bool check(const unsigned char* data, std::size_t size);
  // True when everything seen is UTF-8 and no sequence is left unfinished.
  bool complete() const { return valid_ && pending_ == 0; }

 private:
  // Checks the continuation bytes still expected; returns where they end.
  const unsigned char* continueSequence(const unsigned char* p, const unsigned char* end);

  bool valid_ = true;
  std::uint8_t pending_ = 0;               // continuation bytes still expected
  std::uint8_t low_ = 0x80, high_ = 0xBF;  // the range allowed for the next one
};

// The last units of valid UTF-8 text, decoded from its end: at most MarkerOffset of them, as
// many as decide the rule.
LineResult resultForUtf8(const unsigned char* text, std::size_t size);

// The outcome of one whole line of bytes, terminator excluded: checked to be UTF-8 first.
LineResult repairUtf8Line(const unsigned char* line, std::size_t size);

// Splits a byte stream into lines ('\n' or "\r\n" ends a line) and repairs each.
class LineRepairer {
 public:
  // Calls onLine(const LineResult&) for every line the chunk completes.
  template <typename OnLine>
  void feed(const char* data, std::size_t size, OnLine&& onLine);
  // A last line without a terminator still counts; its trailing '\r' is content.
  template <typename OnLine>
  void finish(OnLine&& onLine);

 private:
  enum class Terminator { Newline, EndOfInput };

  // Lines that run past a chunk.
  void continueLine(const unsigned char* data, std::size_t size);
  LineResult endLine(Terminator terminator);

  // Enough for MarkerOffset characters of four bytes and the CR of a CRLF.
  static constexpr std::size_t kKeptBytes = 4 * MarkerOffset + 1;
  bool inLine_ = false;
  Utf8Checker partial_;
  std::uint64_t partialBytes_ = 0;
  std::array<unsigned char, kKeptBytes> kept_{};  // the partial line's last bytes, in a ring
};

// Writes UTF-8 for the units to `out`, which has room for 3 bytes a unit; returns the length.
// An unpaired surrogate becomes U+FFFD.
std::size_t encodeUtf8(std::u16string_view units, char* out);
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

// Turns UTF-16 that arrives in pieces (console reads) into UTF-8, joining a surrogate pair split
// between two pieces.
class Utf16ToUtf8 {
 public:
  void append(std::u16string_view piece, std::string& out);
  void finish(std::string& out);  // writes a high surrogate left waiting

 private:
  char16_t waiting_ = 0;
};

// ---- template definitions ----

// Whether the MarkerOffset bytes before `end` are all ASCII.
inline bool endsInAscii(const unsigned char* end) {
  std::uint64_t first, last;
  std::memcpy(&first, end - MarkerOffset, sizeof(first));
  std::memcpy(&last, end - sizeof(last), sizeof(last));
  return ((first | last) & 0x8080808080808080ull) == 0;
}
static_assert(MarkerOffset >= 8 && MarkerOffset <= 16);

// Copies the UserKeyLength bytes before `end` to `key`. With SSE2 and a line long enough, one
// sixteen-byte store, which a sixteen-byte load of the key can take straight from the store.
inline void copyKey(const unsigned char* end, char* key, std::size_t lineLength) {
#if QUENVAR_SSE2
  static_assert(UserKeyLength <= 16);
  if (lineLength >= 16) {
    const __m128i last16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(key), _mm_srli_si128(last16, 16 - UserKeyLength));
    return;
  }
#endif
  (void)lineLength;
  std::memcpy(key, end - UserKeyLength, UserKeyLength);
}

// The outcome of a line of `lineLength` bytes ending at `end` whose last MarkerOffset bytes are
// ASCII: those bytes are its last units.
inline LineResult resultForAsciiEnd(const unsigned char* end, std::size_t lineLength) {
  LineResult result;
  const std::string_view tail(reinterpret_cast<const char*>(end - MarkerOffset), MarkerOffset);
  if (const std::optional<std::string_view> key = findUserKeyInAscii(tail)) {
    static_assert(UserKeyLength < MarkerOffset);  // the key is the line's last bytes
    result.outcome = LineOutcome::Repaired;
    result.keyLength = static_cast<std::uint8_t>(key->size());
    copyKey(end, result.keyBytes.data(), lineLength);
  }
  return result;
}

// Calls f(lineStart, newline) for each '\n' in [begin, end).
template <typename F>
void forEachNewline(const unsigned char* begin, const unsigned char* end, F&& f) {
  const unsigned char* line = begin;
  const unsigned char* block = begin;
#if QUENVAR_SSE2
  // Sixty-four bytes at a time into a bit mask of their newlines, then one bit per line.
  const __m128i newline = _mm_set1_epi8('\n');
  for (; end - block >= 64; block += 64) {
    std::uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
      mask |= static_cast<std::uint64_t>(
                  static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline))))
              << (16 * i);
    }
    while (mask != 0) {
      const unsigned char* at = block + __builtin_ctzll(mask);
      f(line, at);
      line = at + 1;
      mask &= mask - 1;
    }
  }
#endif
  // The rest, from where the blocks ended; the line in progress may have begun before.
  while (const auto* at = static_cast<const unsigned char*>(
             std::memchr(block, '\n', static_cast<std::size_t>(end - block)))) {
    f(line, at);
    line = block = at + 1;
  }
}

// Just past the last '\n' in [begin, end), or `begin` when there is none.
const unsigned char* afterLastNewline(const unsigned char* begin, const unsigned char* end);

template <typename OnLine>
void LineRepairer::feed(const char* data, std::size_t size, OnLine&& onLine) {
  auto* p = reinterpret_cast<const unsigned char*>(data);
  const unsigned char* const end = p + size;
  if (inLine_) {
    const auto* newline = static_cast<const unsigned char*>(std::memchr(p, '\n', size));
    continueLine(p, static_cast<std::size_t>((newline ? newline : end) - p));
    if (newline == nullptr)
      return;
    onLine(endLine(Terminator::Newline));
    p = newline + 1;
  }
  // The whole lines of the chunk are checked in one pass, and one by one only when that finds
  // something that is not UTF-8.
  const unsigned char* const last = afterLastNewline(p, end);
  Utf8Checker whole;
  const bool checked = whole.check(p, static_cast<std::size_t>(last - p)) && whole.complete();
  forEachNewline(p, last, [&](const unsigned char* line, const unsigned char* newline) {
    std::size_t length = static_cast<std::size_t>(newline - line);
    if (length > 0 && line[length - 1] == '\r')
      --length;
    // Most lines end in ASCII, and are decided here without a call.
    if (checked && length >= MarkerOffset && endsInAscii(line + length))
      onLine(resultForAsciiEnd(line + length, length));
    else
      onLine(checked ? resultForUtf8(line, length) : repairUtf8Line(line, length));
  });
  p = last;
  if (p < end) {
    inLine_ = true;
    continueLine(p, static_cast<std::size_t>(end - p));
  }
}

template <typename OnLine>
void LineRepairer::finish(OnLine&& onLine) {
  if (inLine_)
    onLine(endLine(Terminator::EndOfInput));
}

}  // namespace quenvar::cli
