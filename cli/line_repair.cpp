#include "line_repair.h"

#include <algorithm>
#include <optional>

namespace quenvar::cli {
namespace {

// The offset of the first byte at or above 0x80 among the next kBlock bytes; kBlock if none.
#if QUENVAR_SSE2
constexpr std::size_t kBlock = 16;
inline bool asciiRun64(const unsigned char* p) {
  auto load = [p](int i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)); };
  return _mm_movemask_epi8(
             _mm_or_si128(_mm_or_si128(load(0), load(1)), _mm_or_si128(load(2), load(3)))) == 0;
}
inline std::size_t firstNonAscii(const unsigned char* p) {
  const int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  return mask == 0 ? kBlock : static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
}
#else
// Other processors, and the i686 build, which may run where SSE2 is missing: eight bytes at once.
constexpr std::size_t kBlock = 8;
inline bool asciiRun64(const unsigned char* p) {
  std::uint64_t words[8];
  std::memcpy(words, p, sizeof(words));
  std::uint64_t any = 0;
  for (std::uint64_t w : words)
    any |= w;
  return (any & 0x8080808080808080ull) == 0;
}
inline std::size_t firstNonAscii(const unsigned char* p) {
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
constexpr std::array<Lead, 256> makeLeads() {
  std::array<Lead, 256> leads{};
  for (int b = 0; b < 256; ++b)
    leads[static_cast<std::size_t>(b)] = leadOf(static_cast<unsigned char>(b));
  return leads;
}
constexpr std::array<Lead, 256> kLeads = makeLeads();

inline bool isContinuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

}  // namespace

LineResult resultForTail(std::u16string_view tail) {
  LineResult result;
  if (const std::optional<std::u16string_view> key = findUserKey(tail)) {
    result.outcome = LineOutcome::Repaired;
    result.keyLength = static_cast<std::uint8_t>(encodeUtf8(*key, result.keyBytes.data()));
  }
  return result;
}

LineResult repairText(std::u16string_view text) {
  return resultForTail(text.substr(text.size() - std::min(text.size(), MarkerOffset)));
}

const unsigned char* Utf8Checker::continueSequence(const unsigned char* p,
                                                   const unsigned char* end) {
  for (; pending_ > 0 && p < end && valid_; ++p, --pending_) {
    valid_ = *p >= low_ && *p <= high_;
    low_ = 0x80;
    high_ = 0xBF;
  }
  return p;
}

bool Utf8Checker::check(const unsigned char* p, std::size_t size) {
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

LineResult resultForUtf8(const unsigned char* text, std::size_t size) {
  if (size >= MarkerOffset && endsInAscii(text + size))
    return resultForAsciiEnd(text + size, size);
  // Otherwise decode backwards, character by character, into the end of `units`.
  std::array<char16_t, MarkerOffset> units{};
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
  return resultForTail(std::u16string_view(units.data() + MarkerOffset - count, count));
}

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

LineResult repairUtf8Line(const unsigned char* line, std::size_t size) {
  Utf8Checker checker;
  if (!checker.check(line, size) || !checker.complete())
    return {LineOutcome::InvalidUtf8};
  return resultForUtf8(line, size);
}

void LineRepairer::continueLine(const unsigned char* data, std::size_t size) {
  partial_.check(data, size);
  // Only the last bytes are kept: they are all that is decoded at the end.
  const std::size_t skip = size > kKeptBytes ? size - kKeptBytes : 0;
  for (std::size_t i = skip; i < size; ++i)
    kept_[static_cast<std::size_t>((partialBytes_ + i) % kKeptBytes)] = data[i];
  partialBytes_ += size;
}

LineResult LineRepairer::endLine(Terminator terminator) {
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
  if (terminator == Terminator::Newline && length > 0 && tail[length - 1] == '\r')
    --length;
  // When the line is longer than what was kept, the kept bytes may begin inside a character;
  // decoding from the end stops long before that.
  return resultForUtf8(tail.data(), length);
}

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

void appendUtf8(std::string& out, std::u16string_view units) {
  const std::size_t start = out.size();
  out.resize(start + 3 * units.size());
  out.resize(start + encodeUtf8(units, out.data() + start));
}

void Utf16ToUtf8::append(std::u16string_view piece, std::string& out) {
  if (piece.empty())
    return;
  std::u16string joined;
  if (waiting_ != 0) {
    joined.reserve(piece.size() + 1);
    joined += waiting_;
    joined += piece;
    piece = joined;
    waiting_ = 0;
  }
  if (piece.back() >= 0xD800 && piece.back() <= 0xDBFF) {
    waiting_ = piece.back();
    piece.remove_suffix(1);
  }
  appendUtf8(out, piece);
}

void Utf16ToUtf8::finish(std::string& out) {
  if (waiting_ != 0)
    appendUtf8(out, std::u16string_view(&waiting_, 1));
  waiting_ = 0;
}

}  // namespace quenvar::cli
