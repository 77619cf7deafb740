#include "line_repair.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "simd.h"

namespace quenvar::cli {
namespace {

// The offset of the first byte at or above 0x80 among the next kBlock bytes; kBlock if none.
#if QUENVAR_SSE2
constexpr std::size_t kBlock = 16;
bool asciiRun64(const unsigned char* p) {
  auto load = [p](int i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)); };
  return _mm_movemask_epi8(
             _mm_or_si128(_mm_or_si128(load(0), load(1)), _mm_or_si128(load(2), load(3)))) == 0;
}
std::size_t firstNonAscii(const unsigned char* p) {
  const int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  return mask == 0 ? kBlock : static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
}
#else
// Other processors, and the i686 build, which may run where SSE2 is missing: eight bytes at once.
constexpr std::size_t kBlock = 8;
bool asciiRun64(const unsigned char* p) {
  std::uint64_t words[8];
  std::memcpy(words, p, sizeof(words));
  std::uint64_t any = 0;
  for (std::uint64_t w : words)
    any |= w;
  return (any & 0x8080808080808080ull) == 0;
}
std::size_t firstNonAscii(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof(word));
  if ((word & 0x8080808080808080ull) == 0)
    return kBlock;
  std::size_t i = 0;
  while (p[i] < 0x80)
    ++i;
  return i;
}
#endif

// Calls f(newline) for each '\n' in [begin, end) while f returns true.
template <typename F>
void forEachNewline(const unsigned char* begin, const unsigned char* end, F&& f) {
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
    for (; mask != 0; mask &= mask - 1) {
      if (!f(block + __builtin_ctzll(mask)))
        return;
    }
  }
#endif
  while (const auto* at = static_cast<const unsigned char*>(
             std::memchr(block, '\n', static_cast<std::size_t>(end - block)))) {
    if (!f(at))
      return;
    block = at + 1;
  }
}

// Just past the last '\n' in [begin, end), or `begin` when there is none.
const unsigned char* afterLastNewline(const unsigned char* begin, const unsigned char* end) {
#if defined(__GLIBC__)
  const void* found = memrchr(begin, '\n', static_cast<std::size_t>(end - begin));
  return found ? static_cast<const unsigned char*>(found) + 1 : begin;
#else
  while (end > begin && end[-1] != '\n')
    --end;
  return end;
#endif
}

// Copies the UserKeyLength bytes before `end` to `key`. With SSE2 and a line long enough, one
// sixteen-byte store, which a sixteen-byte load of the key can take straight from the store.
void copyKey(const unsigned char* end, char* key, std::size_t lineLength) {
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

// The continuation bytes a lead byte announces, and the range its first continuation byte must
// fall in to rule out overlong forms, surrogates and code points above U+10FFFF. Zero
// continuations for a byte that cannot start a sequence.
struct Lead {
  std::uint8_t continuations, low, high;
};
constexpr Lead leadOf(unsigned char b) {
  if (b >= 0xC2 && b <= 0xDF)
    return {1, 0x80, 0xBF};
  if (b == 0xE0)
    return {2, 0xA0, 0xBF};
  if (b == 0xED)
    return {2, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF)
    return {2, 0x80, 0xBF};
  if (b == 0xF0)
    return {3, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3)
    return {3, 0x80, 0xBF};
  if (b == 0xF4)
    return {3, 0x80, 0x8F};
  return {0, 0, 0};
}
constexpr std::array<Lead, 256> kLeads = [] {
  std::array<Lead, 256> leads{};
  for (int b = 0; b < 256; ++b)
    leads[static_cast<std::size_t>(b)] = leadOf(static_cast<unsigned char>(b));
  return leads;
}();

bool isContinuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// Writes UTF-8 for the units to `out`, which has room for 3 bytes a unit; returns the length.
std::size_t encodeUtf8(std::u16string_view units, char* out) {
  char* p = out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t c = units[i];
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00u);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {
      *p++ = static_cast<char>(0xF0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return static_cast<std::size_t>(p - out);
}

// The rule applied to a text's last units (at least MarkerOffset of them, or all).
LineResult resultForLastUnits(std::u16string_view units) {
  LineResult result;
  if (const std::optional<std::u16string_view> key = findUserKey(units)) {
    result.outcome = LineOutcome::Repaired;
    result.keyLength = static_cast<std::uint8_t>(encodeUtf8(*key, result.keyBytes.data()));
  }
  return result;
}

// The most bytes decoding from the end of a line reads: MarkerOffset characters of four bytes.
constexpr std::size_t kMostBytesDecoded = 4 * MarkerOffset;

// The rule applied to UTF-8 text by decoding its last characters backwards from its end.
[[gnu::noinline]] LineResult resultForDecodedEnd(const unsigned char* text, std::size_t size) {
  std::array<char16_t, MarkerOffset> units{};  // filled from its end
  std::size_t count = 0, at = size;
  while (at > 0 && count < MarkerOffset) {
    std::size_t start = at - 1;
    while (start > 0 && isContinuation(text[start]))
      --start;
    const unsigned char lead = text[start];
    const std::size_t length = at - start;
    std::uint32_t c = length == 1   ? lead
                      : length == 2 ? (lead & 0x1Fu)
                      : length == 3 ? (lead & 0x0Fu)
                                    : (lead & 0x07u);
    for (std::size_t k = 1; k < length; ++k)
      c = (c << 6) | (text[start + k] & 0x3Fu);
    if (c >= 0x10000) {
      units[MarkerOffset - 1 - count++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      if (count < MarkerOffset)
        units[MarkerOffset - 1 - count++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    } else {
      units[MarkerOffset - 1 - count++] = static_cast<char16_t>(c);
    }
    at = start;
  }
  return resultForLastUnits(std::u16string_view(units.data() + MarkerOffset - count, count));
}

// The rule applied to text known to be UTF-8, written to `result`. A text that ends in
// MarkerOffset ASCII bytes (almost every link) is decided from those bytes; any other is decoded.
// `result`'s key bytes past the key are left as they were.
[[gnu::always_inline]] inline void decideValidUtf8(const unsigned char* text, std::size_t size,
                                                   LineResult& result) {
  static_assert(MarkerOffset >= 8 && MarkerOffset <= 16 && UserKeyLength < MarkerOffset);
  if (size >= MarkerOffset) {
    std::uint64_t first, last;
    std::memcpy(&first, text + size - MarkerOffset, sizeof(first));
    std::memcpy(&last, text + size - sizeof(last), sizeof(last));
    if (((first | last) & 0x8080808080808080ull) == 0) {
      const std::string_view tail(reinterpret_cast<const char*>(text + size - MarkerOffset),
                                  MarkerOffset);
      const std::optional<std::string_view> key = findUserKeyInAscii(tail);
      result.outcome = key ? LineOutcome::Repaired : LineOutcome::Unsupported;
      result.keyLength = key ? static_cast<std::uint8_t>(key->size()) : 0;
      if (key)
        copyKey(text + size, result.keyBytes.data(), size);
      return;
    }
  }
  result = resultForDecodedEnd(text, size);
}

}  // namespace

LineResult repairUtf16(std::u16string_view text) {
  return resultForLastUnits(text.substr(text.size() - std::min(text.size(), MarkerOffset)));
}

LineResult repairBytes(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  LineRepairer::Utf8Checker checker;
  if (!checker.check(bytes, text.size()) || !checker.complete())
    return {LineOutcome::InvalidUtf8};
  LineResult result;
  decideValidUtf8(bytes, text.size(), result);
  return result;
}

void appendUtf8(std::string& out, std::u16string_view units) {
  const std::size_t start = out.size();
  out.resize(start + 3 * units.size());
  out.resize(start + encodeUtf8(units, out.data() + start));
}

const unsigned char* LineRepairer::Utf8Checker::continueSequence(const unsigned char* p,
                                                                 const unsigned char* end) {
  for (; pending_ > 0 && p < end && valid_; ++p, --pending_) {
    valid_ = *p >= low_ && *p <= high_;
    low_ = 0x80;
    high_ = 0xBF;
  }
  return p;
}

bool LineRepairer::Utf8Checker::check(const unsigned char* p, std::size_t size) {
  const unsigned char* const end = p + size;
  p = continueSequence(p, end);  // one begun in an earlier piece
  while (valid_ && p < end) {
    // ASCII a block at a time, up to the first byte that is not.
    if (static_cast<std::size_t>(end - p) >= kBlock) {
      const std::size_t ascii = firstNonAscii(p);
      p += ascii;
      if (ascii == kBlock) {
        while (end - p >= 64 && asciiRun64(p))
          p += 64;
        continue;
      }
    } else if (*p < 0x80) {
      ++p;
      continue;
    }
    // A run of characters of more than one byte, as in Chinese text.
    do {
      const Lead lead = kLeads[*p];
      if (lead.continuations == 0) {
        valid_ = false;
        break;
      }
      if (static_cast<std::size_t>(end - p) <= lead.continuations) {
        // The sequence goes on in the next piece.
        pending_ = lead.continuations;
        low_ = lead.low;
        high_ = lead.high;
        p = continueSequence(p + 1, end);
        break;
      }
      valid_ = p[1] >= lead.low && p[1] <= lead.high &&
               (lead.continuations < 2 || isContinuation(p[2])) &&
               (lead.continuations < 3 || isContinuation(p[3]));
      p += 1 + lead.continuations;
    } while (valid_ && p < end && *p >= 0x80);
  }
  return valid_;
}

std::size_t LineRepairer::decide(const unsigned char* data, std::size_t size) {
  decided_ = 0;
  const unsigned char* p = data;
  const unsigned char* const end = data + size;
  if (inLine_) {
    const auto* newline = static_cast<const unsigned char*>(std::memchr(p, '\n', size));
    continueLine(p, static_cast<std::size_t>((newline ? newline : end) - p));
    if (newline == nullptr)
      return size;
    results_[decided_++] = endLine(true);
    p = newline + 1;
  }
  // The chunk's whole lines are checked in one pass, and one by one only when that finds
  // something that is not UTF-8.
  if (checkedEnd_ == nullptr) {
    checkedEnd_ = afterLastNewline(p, end);
    Utf8Checker whole;
    checkedValid_ = whole.check(p, static_cast<std::size_t>(checkedEnd_ - p)) && whole.complete();
  }
  // Locals, not members, in the loop: the key's stores may alias anything.
  const bool valid = checkedValid_;
  LineResult* result = results_.data() + decided_;
  LineResult* const full = results_.data() + kBatch;
  forEachNewline(p, end, [&](const unsigned char* newline) {
    std::size_t length = static_cast<std::size_t>(newline - p);
    if (length > 0 && p[length - 1] == '\r')
      --length;
    if (valid)
      decideValidUtf8(p, length, *result);
    else
      *result = repairBytes(std::string_view(reinterpret_cast<const char*>(p), length));
    p = newline + 1;
    return ++result != full;
  });
  decided_ = static_cast<std::size_t>(result - results_.data());
  if (result == full)
    return static_cast<std::size_t>(p - data);
  if (p < end) {
    inLine_ = true;
    continueLine(p, static_cast<std::size_t>(end - p));
  }
  return size;
}

void LineRepairer::continueLine(const unsigned char* data, std::size_t size) {
  partial_.check(data, size);
  const std::size_t skip = size > kKeptBytes ? size - kKeptBytes : 0;
  for (std::size_t i = skip; i < size; ++i)
    kept_[static_cast<std::size_t>((partialBytes_ + i) % kKeptBytes)] = data[i];
  partialBytes_ += size;
}

LineResult LineRepairer::endLine(bool newline) {
  // The first kept byte may be inside a character: decoding from the end, with the CR of a
  // CRLF before it, must stop before it.
  static_assert(kKeptBytes >= kMostBytesDecoded + 1);
  const bool valid = partial_.complete();
  std::array<unsigned char, kKeptBytes> tail;
  const std::size_t size =
      static_cast<std::size_t>(std::min<std::uint64_t>(partialBytes_, kKeptBytes));
  for (std::size_t i = 0; i < size; ++i)
    tail[i] = kept_[static_cast<std::size_t>((partialBytes_ - size + i) % kKeptBytes)];
  inLine_ = false;
  partial_ = Utf8Checker();
  partialBytes_ = 0;
  if (!valid)
    return {LineOutcome::InvalidUtf8};
  std::size_t length = size;
  if (newline && length > 0 && tail[length - 1] == '\r')
    --length;
  LineResult result;
  decideValidUtf8(tail.data(), length, result);
  return result;
}

}  // namespace quenvar::cli
