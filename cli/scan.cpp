#include "scan.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>

#include "simd.h"

namespace quenvar::cli {
namespace {

enum : std::uint8_t {
  kUrl = 1,
  kHost = 2,
  kDigit = 4,
  kTrailing = 8,
  // Characters that change nothing in a path past its first three, in a value that is not a
  // user key, and in a fragment.
  kQuietInPath = 16,
  kQuietInValue = 32,
  kQuietInFragment = 64,
  kQuietInLongName = 128,  // a name too long to be uk or surl
};

// RFC 3986's characters without ' ( ) [ and ], so that a quoted attribute, a Markdown link or a
// forum's [url]...[/url] ends where it should; host names are letters, digits, '-' and '.'.
// Punctuation that ends a sentence or emphasis right after a link belongs to the text, not to it.
constexpr std::array<std::uint8_t, 256> kClasses = [] {
  std::array<std::uint8_t, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    auto among = [c](std::string_view set) {
      return c != 0 && set.find(static_cast<char>(c)) != std::string_view::npos;
    };
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    const bool host = letter || digit || c == '-' || c == '.';
    const bool url = host || among("_~:/?#@!$&*+,;=%");
    const bool quiet = url && !among("%&");  // an escape may change what comes next
    classes[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(
        (url ? kUrl : 0) | (host ? kHost : 0) | (digit ? kDigit : 0) |
        (among(".,;:!?*_~") ? kTrailing : 0) | (quiet && c != '?' ? kQuietInPath : 0) |
        (quiet && c != '#' ? kQuietInValue : 0) | (quiet ? kQuietInFragment : 0) |
        (quiet && c != '#' && c != '=' ? kQuietInLongName : 0));
  }
  return classes;
}();

constexpr bool isHostChar(unsigned char c) {
  return (kClasses[c] & kHost) != 0;
}

// Whether a host name may begin after `c`, which follows `before`: `c` is no host-name character,
// or it is a letter or digit after a byte of 0x81 or more, the second byte of a GBK or GB18030
// character ('-' and '.' never are).
constexpr bool precedesHost(unsigned char before, unsigned char c) {
  return !isHostChar(c) || (before >= 0x81 && c != '-' && c != '.');
}

constexpr unsigned char lowerCase(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c | 0x20) : c;
}

// The escapes decoded: %3F %3f %26 %3D %3d %2F %2f %3A %3a %23, &amp; &#38; \u0026 and \/. None
// contains, after its first byte, a byte that begins one, so they are found the same wherever
// reading starts.
constexpr bool beginsEscape(unsigned char b) {
  return b == '%' || b == '&' || b == '\\';
}

// The character an escape stands for once `byte` ends it; 0 while it goes on; -1 when the bytes
// are not an escape.
int escapeAfter(const std::array<unsigned char, 6>& sofar, std::size_t length, unsigned char byte) {
  switch (sofar[0]) {
    case '%':
      if (length == 1)
        return byte == '2' || byte == '3' ? 0 : -1;
      if (sofar[1] == '2')
        return byte == 'F' || byte == 'f' ? '/' : byte == '6' ? '&' : byte == '3' ? '#' : -1;
      return byte == 'F' || byte == 'f'   ? '?'
             : byte == 'D' || byte == 'd' ? '='
             : byte == 'A' || byte == 'a' ? ':'
                                          : -1;
    case '&': {
      if (length == 1)
        return byte == 'a' || byte == '#' ? 0 : -1;
      const std::string_view text = sofar[1] == '#' ? "&#38;" : "&amp;";
      return byte != text[length] ? -1 : length + 1 == text.size() ? '&' : 0;
    }
    default: {  // a backslash
      if (length == 1)
        return byte == '/' ? '/' : byte == 'u' ? 0 : -1;
      constexpr std::string_view text = "\\u0026";
      return byte != text[length] ? -1 : length + 1 == text.size() ? '&' : 0;
    }
  }
}

// A host name is "pan" or "yun", ".baidu.com" and '/' or '?', maybe written as an escape; "www."
// may come before. Every one therefore spells "baidu", here called its anchor.
constexpr std::size_t kAnchorOffset = 4;  // "pan."
// How far before its anchor a host name may begin: "www.pan.". One that would begin before what
// the character machine has read is left to that machine.
constexpr std::size_t kNameBefore = 8;
// And after its first byte: "baidu.com" and the longest escape for the '/' or '?'.
constexpr std::size_t kWindowAfter = 9 + 3;
// The block scan looks at anchors that leave this many bytes to the end of the piece.
constexpr std::size_t kSearchMargin = 32;
static_assert(kSearchMargin >= 16 + 4 && kSearchMargin >= kWindowAfter);
// Read one by one at the start of a piece: whatever the previous piece left begun ends by then.
constexpr std::size_t kHeadBytes = 24;
static_assert(kHeadBytes >= 17 + 3);
// And at its end, so that the machine's state is exact when the piece ends: a host name whose
// anchor the block scan did not look at begins at most kSearchMargin + 8 bytes from the end.
constexpr std::size_t kTailBytes = kSearchMargin + 8 + 6 + 2;

std::uint64_t load64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}
constexpr std::uint64_t bytes64(const char (&text)[9]) {
  return std::bit_cast<std::uint64_t>(
      std::array<char, 8>{text[0], text[1], text[2], text[3], text[4], text[5], text[6], text[7]});
}
constexpr std::uint64_t kLower64 = 0x2020202020202020ull;

// Whether the bytes around an anchor may be a host name; case is folded loosely, so a few other
// bytes pass too, and hostNameAround or the character machine decides. Reads from anchor - 4 to
// anchor + 9.
inline bool mayBeHost(const unsigned char* anchor) {
  const std::uint64_t before = load64(anchor - kAnchorOffset) | kLower64;
  const std::uint64_t after = load64(anchor + 1) | kLower64;
  const unsigned char next = anchor[9];
  return (before == bytes64("pan.baid") || before == bytes64("yun.baid")) &&
         after == bytes64("aidu.com") && (next == '/' || next == '?' || beginsEscape(next));
}

// Whether `text` is there, letters in either case.
bool spelt(const unsigned char* at, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (lowerCase(at[i]) != static_cast<unsigned char>(text[i]))
      return false;
  }
  return true;
}

// What the escape [at, at + length) stands for, or -1.
int escapeIn(const unsigned char* at, std::size_t length) {
  if (!beginsEscape(at[0]))
    return -1;
  std::array<unsigned char, 6> sofar{at[0]};
  for (std::size_t i = 1; i < length; ++i) {
    const int decoded = escapeAfter(sofar, i, at[i]);
    if (decoded != 0)
      return i + 1 == length ? decoded : -1;
    sofar[i] = at[i];
  }
  return -1;
}

// Whether a host name may begin at `at`: the character before is not part of one. A letter or
// digit right after a byte of 0x81 or more is taken for the second byte of a GBK or GB18030
// character (many have one), as in "盤pan.baidu.com". An escape ending there is found from its
// bytes alone: none begins inside another. Reads 6 bytes back.
bool mayPrecedeHost(const unsigned char* at) {
  return precedesHost(at[-2], at[-1]) || escapeIn(at - 3, 3) > 0 || escapeIn(at - 6, 6) > 0;
}

// Whether the character at `at` is '/' or '?', maybe as an escape. Reads 3 bytes.
bool mayFollowHost(const unsigned char* at) {
  const int c = at[0] == '%' ? escapeIn(at, 3) : at[0] == '\\' ? escapeIn(at, 2) : at[0];
  return c == '/' || c == '?';
}

struct HostName {
  std::size_t before = 0;  // how far before the anchor it begins
  std::size_t length = 0;  // 0 when there is none
};

// The host name an anchor belongs to, judged from the bytes around it: the characters of a host
// name are never part of an escape. Reads from anchor - 14 to anchor + 12.
HostName hostNameAround(const unsigned char* anchor) {
  if (!(spelt(anchor - 4, "pan.") || spelt(anchor - 4, "yun.")) || !spelt(anchor, "baidu.com") ||
      !mayFollowHost(anchor + 9))
    return {};
  if (mayPrecedeHost(anchor - 4))
    return {4, 13};
  if (spelt(anchor - 8, "www.") && mayPrecedeHost(anchor - 8))
    return {8, 17};
  return {};
}

#if !QUENVAR_SSE2
// 0x80 in each byte of x that is zero.
constexpr std::uint64_t zeroBytes(std::uint64_t x) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}
// How many bytes of x are '\n': the bytes of a multiplication add them up, where a popcount
// without the instruction would take a dozen steps.
constexpr std::uint64_t newlinesIn(std::uint64_t x) {
  return ((zeroBytes(x ^ bytes64("\n\n\n\n\n\n\n\n")) >> 7) * 0x0101010101010101ull) >> 56;
}
#endif

// The first anchor in [from, limit) that may be a host name, or nullptr; adds the newlines before
// it (or before `limit`), from `from` on, to `newlines`, so that the bytes are read only once.
// Reads up to limit + 20 and back to from - 4.
const unsigned char* findAnchor(const unsigned char* from, const unsigned char* limit,
                                std::uint64_t& newlines) {
  const unsigned char* p = from;
#if QUENVAR_SSE2
  // 'b' and the 'u' four bytes on, in either case, sixty-four places at a time: rare in any
  // text. Newlines go to sixteen byte counters, added up before any can overflow.
  const __m128i lower = _mm_set1_epi8(0x20);
  const __m128i b = _mm_set1_epi8('b');
  const __m128i u = _mm_set1_epi8('u');
  const __m128i newline = _mm_set1_epi8('\n');
  auto load = [](const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  };
  auto candidates = [&](const unsigned char* at, __m128i first) {
    return _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(first, lower), b),
                         _mm_cmpeq_epi8(_mm_or_si128(load(at + 4), lower), u));
  };
  auto bits = [](__m128i m0, __m128i m1, __m128i m2, __m128i m3) {
    std::uint64_t mask = 0;
    int shift = 0;
    for (const __m128i m : {m0, m1, m2, m3}) {
      mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m))) << shift;
      shift += 16;
    }
    return mask;
  };
  while (limit - p >= 64) {
    __m128i counters = _mm_setzero_si128();
    const unsigned char* found = nullptr;
    std::uint64_t after = 0;  // newlines of the last block from the anchor on
    const unsigned char* const stop =
        p + 64 * std::min<std::size_t>(63, static_cast<std::size_t>(limit - p) / 64);
    for (; p < stop; p += 64) {
      const __m128i x0 = load(p), x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
      const __m128i n0 = _mm_cmpeq_epi8(x0, newline), n1 = _mm_cmpeq_epi8(x1, newline),
                    n2 = _mm_cmpeq_epi8(x2, newline), n3 = _mm_cmpeq_epi8(x3, newline);
      counters = _mm_sub_epi8(_mm_sub_epi8(counters, _mm_add_epi8(n0, n1)), _mm_add_epi8(n2, n3));
      const __m128i c0 = candidates(p, x0), c1 = candidates(p + 16, x1),
                    c2 = candidates(p + 32, x2), c3 = candidates(p + 48, x3);
      if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(c0, c1), _mm_or_si128(c2, c3))) == 0)
        continue;
      for (std::uint64_t mask = bits(c0, c1, c2, c3); mask != 0; mask &= mask - 1) {
        const int at = std::countr_zero(mask);
        if (mayBeHost(p + at)) {
          found = p + at;
          after = static_cast<std::uint64_t>(std::popcount(bits(n0, n1, n2, n3) >> at));
          break;
        }
      }
      if (found)
        break;
    }
    const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    newlines += static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums)) +
                static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8))) - after;
    if (found)
      return found;
  }
#else
  // Eight places at a time: a byte of (x | 0x20) ^ c is zero where x is c in either case.
  for (; limit - p >= 8; p += 8) {
    const std::uint64_t bytes = load64(p);
    const std::uint64_t first = (bytes | kLower64) ^ bytes64("bbbbbbbb");
    const std::uint64_t fifth = (load64(p + 4) | kLower64) ^ bytes64("uuuuuuuu");
    if ((zeroBytes(first) & zeroBytes(fifth)) != 0) {
      for (const unsigned char* anchor = p; anchor < p + 8; ++anchor) {
        if ((anchor[0] | 0x20) == 'b' && (anchor[4] | 0x20) == 'u' && mayBeHost(anchor)) {
          newlines += static_cast<std::uint64_t>(std::count(p, anchor, '\n'));
          return anchor;
        }
      }
    }
    newlines += newlinesIn(bytes);
  }
#endif
  for (; p < limit; ++p) {
    if ((p[0] | 0x20) == 'b' && (p[4] | 0x20) == 'u' && mayBeHost(p))
      return p;
    newlines += *p == '\n';
  }
  return nullptr;
}

std::uint64_t countNewlines(const unsigned char* p, const unsigned char* end) {
  std::uint64_t count = 0;
#if QUENVAR_SSE2
  // Into sixteen byte counters, added up before any can overflow.
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  while (end - p >= 16) {
    const std::size_t blocks = std::min<std::size_t>(255, static_cast<std::size_t>(end - p) / 16);
    __m128i counters = zero;
    for (std::size_t i = 0; i < blocks; ++i, p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(bytes, newline));
    }
    const __m128i sums = _mm_sad_epu8(counters, zero);
    count += static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#else
  for (; end - p >= 8; p += 8)
    count += newlinesIn(load64(p));
#endif
  for (; p < end; ++p)
    count += *p == '\n';
  return count;
}

// Asks for a cache line without waiting for it.
inline void prefetch(const void* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

}  // namespace

void LinkScanner::feed(const unsigned char* data, std::size_t size) {
  if (encoding_ == Encoding::Undecided) {
    // A byte-order mark may be split between pieces: hold the first bytes until they tell.
    std::size_t held = 0;
    while (size > 0 && encoding_ == Encoding::Undecided) {
      start_[startLength_++] = *data++;
      --size;
      const unsigned char first = start_[0];
      const unsigned char second = startLength_ > 1 ? start_[1] : 0;
      if (first != 0xFF && first != 0xFE && first != 0xEF) {
        encoding_ = Encoding::Bytes;
        held = startLength_;
      } else if (startLength_ == 1) {
        continue;
      } else if (first == 0xFF && second == 0xFE) {
        encoding_ = Encoding::Utf16Le;
      } else if (first == 0xFE && second == 0xFF) {
        encoding_ = Encoding::Utf16Be;
      } else if (first != 0xEF || second != 0xBB) {
        encoding_ = Encoding::Bytes;
        held = startLength_;
      } else if (startLength_ == 3) {
        encoding_ = Encoding::Bytes;
        held = start_[2] == 0xBF ? 0 : 3;
      }
    }
    if (held > 0)
      scanBytes(start_.data(), held);
  }
  if (encoding_ == Encoding::Bytes)
    scanBytes(data, size);
  else if (encoding_ != Encoding::Undecided)
    feedUtf16(data, size);
}

// Ends the link being read where the input or a host name cuts it: an escape begun there stands
// for its bytes.
void LinkScanner::endLinkHere() {
  const std::size_t held = escapeLength_;
  escapeLength_ = 0;
  for (std::size_t i = 0; i < held && inLink_; ++i)
    emit<false>(escape_[i]);
  if (inLink_)
    endLink();
}

void LinkScanner::finish() {
  if (encoding_ == Encoding::Undecided) {
    encoding_ = Encoding::Bytes;
    scanBytes(start_.data(), startLength_);
  }
  // An escape cut short by the end stands for its bytes.
  endLinkHere();
}

void LinkScanner::feedUtf16(const unsigned char* data, std::size_t size) {
  // Each unit becomes one byte: itself when ASCII, else 0x80, which no link contains.
  std::array<unsigned char, 4096> bytes;
  std::size_t count = 0;
  auto unit = [&](unsigned char a, unsigned char b) {
    const unsigned char high = encoding_ == Encoding::Utf16Le ? b : a;
    const unsigned char low = encoding_ == Encoding::Utf16Le ? a : b;
    bytes[count++] = high == 0 && low < 0x80 ? low : 0x80;
    if (count == bytes.size()) {
      scanBytes(bytes.data(), count);
      count = 0;
    }
  };
  if (oddByteHeld_ && size > 0) {
    unit(oddByte_, *data++);
    --size;
    oddByteHeld_ = false;
  }
  for (; size >= 2; data += 2, size -= 2)
    unit(data[0], data[1]);
  if (size == 1) {
    oddByte_ = *data;
    oddByteHeld_ = true;
  }
  scanBytes(bytes.data(), count);
}

void LinkScanner::scanBytes(const unsigned char* data, std::size_t size) {
  data_ = data;
  counted_ = 0;
  // The first bytes may finish what the last piece began: they are read one by one.
  std::size_t at = 0;
  const std::size_t head = std::min(size, kHeadBytes);
  while (at < head)
    stepAt(at++);
  bool recentKnown = true;  // recent_ holds the characters before `at`
  const std::size_t limit = size >= kSearchMargin ? size - kSearchMargin : 0;
  std::size_t from = std::min(size, kAnchorOffset);
  line_ += countNewlines(data, data + from);
  counted_ = from;
  while (const unsigned char* found =
             from < limit ? findAnchor(data + from, data + limit, line_) : nullptr) {
    const std::size_t anchor = static_cast<std::size_t>(found - data);
    // The anchor's own byte is a 'b'.
    from = counted_ = anchor + 1;
    if (recentKnown && anchor < at + kNameBefore) {
      // Near what was read one by one: read on the same way past the host name, if it is one.
      while (at < anchor + kWindowAfter)
        stepAt(at++);
      continue;
    }
    const HostName host = hostNameAround(found);
    if (host.length == 0)
      continue;
    // Whatever came before ends where the host name begins.
    readQuietly(data, at, anchor - host.before);
    at = anchor - host.before;
    // An escape cut short by the host name stands for its bytes.
    endLinkHere();
    startLink(at);
    at += host.length;
    recentKnown = false;
  }
  if (from < limit)
    counted_ = limit;  // findAnchor counted the newlines up to there
  // The last bytes are read one by one, so that the state is exact when the next piece comes;
  // no host name begins within six bytes of where that starts.
  const std::size_t tail = size - std::min(size, kTailBytes);
  if (tail > at) {
    readQuietly(data, at, tail);
    at = tail;
    recentKnown = false;
  }
  if (!recentKnown)
    forgetRecent();
  while (at < size)
    stepAt(at++);
  line_ += countNewlines(data + counted_, data + size);
}

// Reads one byte with the full machine, which may find a host name there.
inline void LinkScanner::stepAt(std::size_t at) {
  at_ = at;
  step<true>(data_[at]);
}

// The line of a host name at `at` in the piece. Lines are counted once, up to counted_; a
// place before that is always in the host name that holds counted_, which has no newline.
std::uint64_t LinkScanner::lineAt(std::size_t at) const {
  return at > counted_ ? line_ + countNewlines(data_ + counted_, data_ + at) : line_;
}

// Reads [at, end), where no host name begins: the rest of a link, without watching for one.
void LinkScanner::readQuietly(const unsigned char* data, std::size_t at, std::size_t end) {
  if (inLink_)
    readLink(data, at, end);
  if (!inLink_)
    escapeLength_ = 0;
}

// Reads the link in [at, end) until it ends; returns where it did, or `end`.
std::size_t LinkScanner::readLink(const unsigned char* data, std::size_t at, std::size_t end) {
  while (at < end && inLink_) {
    if (const std::uint8_t quiet = quietClass(); quiet != 0) {
      while (at < end && (kClasses[data[at]] & quiet) != 0)
        ++at;
      if (at == end)
        break;
    } else if (link_.inName && escapeLength_ == 0) {
      // A name's first characters, kept as queryChar keeps them, until it is too long to matter.
      Link& l = link_;
      while (at < end && (kClasses[data[at]] & kQuietInLongName) != 0 && l.nameEnd <= 4) {
        const unsigned char c = data[at++];
        if (l.nameLength < l.name.size())
          l.name[l.nameLength] = c;
        l.nameLength = static_cast<std::uint8_t>(std::min(l.nameLength + 1, 5));
        if ((kClasses[c] & kTrailing) == 0)
          l.nameEnd = l.nameLength;
      }
      if (at == end || l.nameEnd > 4)
        continue;
    } else if (link_.inUserKey && link_.valueDigits && !link_.valueTail && escapeLength_ == 0) {
      // The digits of a key, the most of a link that matters.
      while (at < end && (kClasses[data[at]] & kDigit) != 0 &&
             link_.valueLength < kMaxUserKeyDigits)
        value_[link_.valueLength++] = static_cast<char>(data[at++]);
      if (at == end)
        break;
    }
    step<false>(data[at++]);
  }
  return at;
}

// The class of the characters that change nothing where the link is, or 0.
std::uint8_t LinkScanner::quietClass() const {
  if (escapeLength_ != 0)
    return 0;
  if (link_.hasKey)  // then only the link's end matters
    return kQuietInFragment;
  switch (link_.part) {
    case Part::Path:
      return link_.pathLength >= 3 ? kQuietInPath : 0;
    case Part::Query:
      if (link_.inName)
        return link_.nameEnd > 4 ? kQuietInLongName : 0;
      return link_.inUserKey && link_.valueDigits ? 0 : kQuietInValue;
    case Part::Fragment:
      return kQuietInFragment;
  }
  return 0;
}

template <bool kWatchHosts>
void LinkScanner::step(unsigned char byte) {
  if (escapeLength_ != 0)
    continueEscape<kWatchHosts>(byte);
  else if (beginsEscape(byte))
    escape_[escapeLength_++] = byte;
  else
    emit<kWatchHosts>(byte);
}

template <bool kWatchHosts>
void LinkScanner::continueEscape(unsigned char byte) {
  const int decoded = escapeAfter(escape_, escapeLength_, byte);
  if (decoded == 0) {
    escape_[escapeLength_++] = byte;
    return;
  }
  const std::size_t held = escapeLength_;
  escapeLength_ = 0;
  if (decoded > 0) {
    emit<kWatchHosts>(static_cast<unsigned char>(decoded));
    return;
  }
  // Not an escape: the bytes stand for themselves, and only the last may begin another.
  for (std::size_t i = 0; i < held; ++i)
    emit<kWatchHosts>(escape_[i]);
  step<kWatchHosts>(byte);
}

template <bool kWatchHosts>
void LinkScanner::emit(unsigned char c) {
  if (kWatchHosts && (c == '/' || c == '?') && hostNameBefore() != 0) {
    if (inLink_) {
      link_ = beforeHost_;
      endLink();
    }
    startLink(at_);
  }
  if (kWatchHosts)
    recent_[recentEnd_++ % kRecent] = lowerCase(c);
  if (inLink_)
    linkChar<kWatchHosts>(c);
}

// The length of the host name the latest characters end with, or 0.
std::size_t LinkScanner::hostNameBefore() const {
  auto back = [this](std::size_t n) { return recent_[(recentEnd_ - n) % kRecent]; };
  constexpr std::string_view kDomain = ".baidu.com";
  for (std::size_t i = 0; i < kDomain.size(); ++i) {
    if (back(1 + i) != static_cast<unsigned char>(kDomain[kDomain.size() - 1 - i]))
      return 0;
  }
  const unsigned char a = back(13), b = back(12), c = back(11);
  if (!((a == 'p' && b == 'a' && c == 'n') || (a == 'y' && b == 'u' && c == 'n')))
    return 0;
  if (precedesHost(back(15), back(14)))
    return 13;
  if (back(14) == '.' && back(15) == 'w' && back(16) == 'w' && back(17) == 'w' &&
      precedesHost(back(19), back(18)))
    return 17;
  return 0;
}

// What was before is not known: as if it were part of a host name, so that no host name is seen
// to begin right after it. Host names whose anchors the block scan saw are decided already.
void LinkScanner::forgetRecent() {
  recent_.fill('-');
}

void LinkScanner::startLink(std::size_t at) {
  inLink_ = true;
  linkLine_ = lineAt(at);
  link_ = Link();
}

template <bool kWatchHosts>
void LinkScanner::linkChar(unsigned char c) {
  const std::uint8_t classes = kClasses[c];
  if ((classes & kUrl) == 0) {
    endLink();
    return;
  }
  switch (link_.part) {
    case Part::Path:
      if (c == '?') {
        link_.part = Part::Query;
        startParameter();
      } else if (link_.pathLength < 3) {
        link_.sharePath = link_.sharePath && c == "/s/"[link_.pathLength];
        ++link_.pathLength;
      }
      break;
    case Part::Query:
      queryChar(c);
      break;
    case Part::Fragment:
      break;
  }
  if (kWatchHosts && (classes & kHost) == 0)
    beforeHost_ = link_;
}

void LinkScanner::queryChar(unsigned char c) {
  Link& l = link_;
  const std::uint8_t classes = kClasses[c];
  if (c == '&' || c == '#') {
    endParameter(false);
    if (c == '#')
      l.part = Part::Fragment;
    else
      startParameter();
  } else if (l.inName) {
    if (c == '=') {
      l.inName = false;
      const std::string_view name(reinterpret_cast<const char*>(l.name.data()),
                                  std::min<std::size_t>(l.nameLength, l.name.size()));
      l.inUserKey = l.nameLength == 2 && name == "uk";
      l.surl = l.surl || (l.nameLength == 4 && name == "surl");
      l.valueDigits = true;
      l.valueTail = false;
      l.valueLength = 0;
    } else {
      if (l.nameLength < l.name.size())
        l.name[l.nameLength] = c;
      l.nameLength = static_cast<std::uint8_t>(std::min(l.nameLength + 1, 5));
      if ((classes & kTrailing) == 0)
        l.nameEnd = l.nameLength;
    }
  } else if (l.inUserKey) {
    if ((classes & kDigit) != 0 && !l.valueTail && l.valueLength < kMaxUserKeyDigits)
      value_[l.valueLength++] = static_cast<char>(c);
    else if ((classes & kTrailing) != 0)
      l.valueTail = true;
    else
      l.valueDigits = false;
  }
}

void LinkScanner::startParameter() {
  link_.inName = true;
  link_.nameLength = 0;
  link_.nameEnd = 0;
  link_.inUserKey = false;
}

// Punctuation at the end of a link is not part of it, but before '&' or '#' it is.
void LinkScanner::endParameter(bool linkEnds) {
  Link& l = link_;
  // A parameter without '=' has only a name.
  const std::uint8_t nameLength = linkEnds ? l.nameEnd : l.nameLength;
  if (l.inName && nameLength == 4 && std::memcmp(l.name.data(), "surl", 4) == 0)
    l.surl = true;
  if (l.inUserKey && l.valueDigits && (linkEnds || !l.valueTail) && l.valueLength > 0 &&
      !l.hasKey) {
    key_ = value_;
    keyLength_ = l.valueLength;
    l.hasKey = true;
  }
  l.inUserKey = false;
}

void LinkScanner::endLink() {
  inLink_ = false;
  if (link_.part == Part::Query)
    endParameter(true);
  if (link_.hasKey)
    sink_(std::string_view(key_.data(), keyLength_), linkLine_);
  else if ((link_.sharePath && link_.pathLength == 3) || link_.surl)
    ++keyless_;
}

std::uint64_t SharerTable::hash(std::string_view key) {
  std::uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
  for (const char c : key)
    h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  // MurmurHash3's finaliser: every bit of the key reaches the low bits, which pick the slot.
  h = (h ^ (h >> 33)) * 0xff51afd7ed558ccdull;
  h = (h ^ (h >> 33)) * 0xc4ceb9fe1a85ec53ull;
  return h ^ (h >> 33);
}

void SharerTable::add(std::string_view key, std::size_t input, std::uint64_t line) {
  ++links_;
  if (key.size() > kMaxUserKeyDigits) {
    settle();
    count(key, hash(key), input, line);
    return;
  }
  // Settled before a link is stored, so that a settling that failed never leaves it no room.
  if (waitingCount_ == waiting_.size())
    settle();
  Waiting& waiting = waiting_[waitingCount_++];
  std::copy(key.begin(), key.end(), waiting.key.begin());
  waiting.length = static_cast<std::uint8_t>(key.size());
  waiting.input = input;
  waiting.line = line;
}

const std::vector<SharerTable::Sharer>& SharerTable::sharers() const {
  settle();
  return sharers_;
}

const std::vector<SharerTable::Sharer>& SharerTable::sharersCounted() const {
  for (const Waiting& w : std::span(waiting_).first(slots_.empty() ? 0 : waitingCount_)) {
    const std::string_view key(w.key.data(), w.length);
    if (const std::uint64_t slot = slots_[slotOf(key, hash(key))])
      ++sharers_[index(slot)].links;
  }
  waitingCount_ = 0;
  return sharers_;
}

// Fetches the slots of all that waits, then their sharers, then counts them in order. What could
// not be counted for want of memory still waits.
void SharerTable::settle() const {
  while (2 * (sharers_.size() + waitingCount_) > slots_.size())
    grow();
  const std::size_t mask = slots_.size() - 1;
  const auto waiting = std::span(waiting_).first(waitingCount_);
  for (Waiting& w : waiting) {
    w.hash = hash(std::string_view(w.key.data(), w.length));
    prefetch(&slots_[static_cast<std::size_t>(w.hash) & mask]);
  }
  for (const Waiting& w : waiting) {
    if (const std::uint64_t slot = slots_[static_cast<std::size_t>(w.hash) & mask])
      prefetch(&sharers_[index(slot)]);
  }
  std::size_t counted = 0;
  try {
    for (; counted < waiting.size(); ++counted) {
      const Waiting& w = waiting[counted];
      count(std::string_view(w.key.data(), w.length), w.hash, w.input, w.line);
    }
  } catch (...) {
    if (counted != 0) {
      std::copy(waiting.begin() + static_cast<std::ptrdiff_t>(counted), waiting.end(),
                waiting.begin());
      waitingCount_ -= counted;
    }
    throw;
  }
  waitingCount_ = 0;
}

void SharerTable::count(std::string_view key, std::uint64_t h, std::size_t input,
                        std::uint64_t line) const {
  if (2 * (sharers_.size() + 1) > slots_.size())
    grow();
  const std::size_t i = slotOf(key, h);
  if (slots_[i] != 0) {
    ++sharers_[index(slots_[i])].links;
    return;
  }
  // Stored before the slot points at it, so that running out of memory leaves the table whole.
  sharers_.push_back({std::string(key), 1, input, line});
  slots_[i] = (h & kTagBits) | sharers_.size();
}

// The slot that holds `key`, or the empty one where it would go.
std::size_t SharerTable::slotOf(std::string_view key, std::uint64_t h) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(h) & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    if (slot == 0 || ((slot & kTagBits) == (h & kTagBits) && sharers_[index(slot)].key == key))
      return i;
  }
}

void SharerTable::grow() const {
  slots_.assign(std::max<std::size_t>(1024, 2 * slots_.size()), 0);
  for (std::size_t n = 0; n < sharers_.size(); ++n) {
    const std::uint64_t h = hash(sharers_[n].key);
    std::size_t i = static_cast<std::size_t>(h) & (slots_.size() - 1);
    while (slots_[i] != 0)
      i = (i + 1) & (slots_.size() - 1);
    slots_[i] = (h & kTagBits) | (n + 1);
  }
}

}  // namespace quenvar::cli
