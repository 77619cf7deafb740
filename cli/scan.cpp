#include "scan.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "block_scan.h"

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

// What a percent escape may stand for besides a character of its own: one that ends a key, or
// punctuation that ends one at the end of a link. Within a link they are URL characters.
constexpr int kEncodedEnd = 256;
constexpr int kEncodedTail = 257;

// RFC 3986's characters without ' ( ) [ and ], so that a quoted attribute, a Markdown link or a
// forum's [url]...[/url] ends where it should; host names are letters, digits, '-' and '.'.
// Punctuation that ends a sentence or emphasis right after a link belongs to the text, not to it.
constexpr std::array<std::uint8_t, 258> kClasses = [] {
  std::array<std::uint8_t, 258> classes{};
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
  classes[kEncodedEnd] = classes[kEncodedTail] = kUrl;
  return classes;
}();

constexpr bool isHostChar(unsigned char c) {
  return (kClasses[c] & kHost) != 0;
}

constexpr bool isLetter(char c) {
  return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

constexpr unsigned char lowerCase(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c | 0x20) : c;
}

constexpr int hexDigit(unsigned char c) {
  return c >= '0' && c <= '9'                     ? c - '0'
         : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                  : -1;
}

// An escape: what it stands for within a link, the byte it encodes, and its length, 0 when there
// is none.
struct Escape {
  int c = 0;
  unsigned char byte = 0;
  std::uint8_t length = 0;
  bool twice = false;  // percent-encoded twice
};

// The percent escapes read: ? & = / : # as themselves; a character that ends a key in plain text,
// by ending one. Letters, digits and the rest of a URL's characters stay as written.
constexpr int percentMeaning(unsigned char byte) {
  if (std::string_view("?&=/:#").find(static_cast<char>(byte)) != std::string_view::npos)
    return byte;
  if ((kClasses[byte] & kTrailing) != 0)
    return kEncodedTail;
  return (kClasses[byte] & kUrl) == 0 || byte == 0 ? kEncodedEnd : -1;
}

// The escape that begins at `at`: %XX, %25XX, &amp; &#38; \u0026 or \/. None contains, after its
// first byte, a byte that begins one, so they are found the same wherever reading starts. Reads 6
// bytes.
Escape escapeAt(const unsigned char* at) {
  auto text = [at](std::string_view s) { return std::memcmp(at, s.data(), s.size()) == 0; };
  if (at[0] == '%') {
    for (const bool twice : {true, false}) {
      const unsigned char* x = twice ? at + 3 : at + 1;
      if (twice && !text("%25"))
        continue;
      const int high = hexDigit(x[0]), low = hexDigit(x[1]);
      if (high < 0 || low < 0)
        continue;
      const auto byte = static_cast<unsigned char>(high * 16 + low);
      if (const int c = percentMeaning(byte); c >= 0)
        return {c, byte, static_cast<std::uint8_t>(twice ? 5 : 3), twice};
    }
    return {};
  }
  if (text("&amp;") || text("&#38;"))
    return {'&', '&', 5};
  if (text("\\u0026"))
    return {'&', '&', 6};
  if (text("\\/"))
    return {'/', '/', 2};
  return {};
}

constexpr bool beginsEscape(unsigned char b) {
  return b == '%' || b == '&' || b == '\\';
}

// The longest run of letters (with the dots between them) that every host name holds, here
// called the anchor: the block scan looks for it.
constexpr std::string_view kAnchor = [] {
  const std::string_view first = kHostNames[0].name;
  std::string_view best;
  for (std::size_t at = 0; at < first.size(); ++at) {
    for (std::size_t length = first.size() - at; length > best.size(); --length) {
      const std::string_view part = first.substr(at, length);
      if (std::all_of(std::begin(kHostNames), std::end(kHostNames),
                      [part](const HostName& h) { return h.name.find(part) != h.name.npos; })) {
        best = part;
        break;
      }
    }
  }
  while (!best.empty() && !isLetter(best.front()))
    best.remove_prefix(1);
  return best;
}();
// Its first byte and the one this far on, in either case, are what the block scan looks for.
constexpr std::size_t kProbe = std::min<std::size_t>(4, kAnchor.size() - 1);
static_assert(kAnchor.size() >= 2 && isLetter(kAnchor[0]) && isLetter(kAnchor[kProbe]),
              "host names need letters in common");

constexpr std::size_t anchorOffset(const HostName& h) {
  return h.name.find(kAnchor);
}
template <typename F>
constexpr std::size_t mostOf(F f) {
  std::size_t most = 0;
  for (const HostName& h : kHostNames)
    most = std::max(most, f(h));
  return most;
}
// How far before its anchor a host name may begin, and how far after its first byte it ends.
constexpr std::size_t kNameBefore =
    mostOf([](auto& h) { return h.prefix.size() + anchorOffset(h); });
constexpr std::size_t kNameAfter = mostOf([](auto& h) { return h.name.size() - anchorOffset(h); });
// The longest escape, and the longest of '/' or '?'.
constexpr std::size_t kLongestEscape = 6, kLongestSlash = 5;
// A place is read with this many bytes before and after it at hand: an escape or a host name
// that begins there, and the escape and byte before one.
constexpr std::size_t kLookbehind = kNameBefore + kLongestEscape;
constexpr std::size_t kLookahead =
    std::max(kNameBefore + kNameAfter + kLongestSlash, kLongestEscape) + 1;

constexpr LetterPair kProbes = {static_cast<unsigned char>(kAnchor[0] | 0x20),
                                static_cast<unsigned char>(kAnchor[kProbe] | 0x20), kProbe};
inline bool probed(const unsigned char* at) {
  return (at[0] | 0x20) == kProbes.first && (at[kProbe] | 0x20) == kProbes.second;
}

// Whether `text` is there, letters in either case.
bool spelt(const unsigned char* at, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (lowerCase(at[i]) != static_cast<unsigned char>(text[i] | (isLetter(text[i]) ? 0x20 : 0)))
      return false;
  }
  return true;
}

// Whether a host name may begin at `at`: the character before is none of a host name's. A letter
// or digit right after a byte of 0x81 or more is taken for the second byte of a GBK or GB18030
// character (many have one), as in "盤pan.baidu.com"; '-' and '.' never are. An escape ending there
// is found from its bytes alone. Reads 6 bytes back.
bool mayPrecedeHost(const unsigned char* at) {
  for (const std::size_t length : {3, 5, 6}) {
    if (const Escape e = escapeAt(at - length); e.length == length)
      return !isHostChar(e.byte);
  }
  return !isHostChar(at[-1]) || (at[-2] >= 0x81 && at[-1] != '-' && at[-1] != '.');
}

struct Host {
  std::size_t start = 0;
  std::size_t length = 0;  // 0 when there is none
  bool twice = false;      // its '/' or '?' is percent-encoded twice
};

// The host name an anchor belongs to, judged from the bytes around it: the characters of a host
// name are never part of an escape. Reads kLookbehind bytes back and kLookahead on.
Host hostAround(const unsigned char* anchor, const unsigned char* data) {
  for (const HostName& h : kHostNames) {
    const unsigned char* name = anchor - anchorOffset(h);
    if (!spelt(name, h.name))
      continue;
    const unsigned char* after = name + h.name.size();
    const Escape e = escapeAt(after);
    if (!(e.length ? e.c == '/' || e.c == '?' : *after == '/' || *after == '?'))
      continue;
    const unsigned char* start = name - h.prefix.size();
    if (mayPrecedeHost(name))
      start = name;
    else if (h.prefix.empty() || !spelt(start, h.prefix) || !mayPrecedeHost(start))
      continue;
    return {static_cast<std::size_t>(start - data), static_cast<std::size_t>(after - start),
            e.twice};
  }
  return {};
}

// The first host name that begins in [from, to), counting the newlines before it, from `counted`
// on, into `line`.
Host nextHost(const unsigned char* data, std::size_t from, std::size_t to, std::size_t& counted,
              std::uint64_t& line) {
  line += static_cast<std::uint64_t>(std::count(data + counted, data + from, '\n'));
  for (const unsigned char* p = data + from;;) {
    const unsigned char* anchor = findLetterPair(p, data + to, kProbes, line);
    if (!anchor)
      break;
    counted = static_cast<std::size_t>(anchor - data);
    if (const Host host = hostAround(anchor, data); host.length != 0 && host.start >= from)
      return host;
    p = anchor + 1;  // a letter: no newline
  }
  counted = to;
  // One whose anchor is past `to`: the bytes between are its own, no newlines.
  for (const unsigned char* anchor = data + to; anchor < data + to + kNameBefore; ++anchor) {
    if (!probed(anchor))
      continue;
    if (const Host host = hostAround(anchor, data);
        host.length != 0 && host.start >= from && host.start < to)
      return host;
  }
  return {};
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

void LinkScanner::finish() {
  if (encoding_ == Encoding::Undecided) {
    encoding_ = Encoding::Bytes;
    scanBytes(start_.data(), startLength_);
  }
  // The last places, with zeros after them.
  std::array<unsigned char, 2 * kOverlap> last{};
  std::copy(carry_.begin(), carry_.end(), last.begin());
  scan(last.data(), kOverlap - kLookahead, kOverlap);
  if (inLink_)
    endLink();
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

// Each place is read once kLookahead bytes after it have come: those kLookahead before the end of
// the last piece together with the first of this one, in a copy, and the rest where it lies.
void LinkScanner::scanBytes(const unsigned char* data, std::size_t size) {
  static_assert(kOverlap >= kLookbehind + kLookahead);
  const std::size_t head = std::min(size, kOverlap);
  std::array<unsigned char, 2 * kOverlap> seam;
  std::copy(carry_.begin(), carry_.end(), seam.begin());
  std::copy(data, data + head, seam.begin() + kOverlap);
  scan(seam.data(), kOverlap - kLookahead, kOverlap + head - kLookahead);
  if (size > head)
    scan(data, head - kLookahead, size - kLookahead);
  std::copy(seam.begin() + head, seam.begin() + head + kOverlap, carry_.begin());
  if (size > head)
    std::copy(data + size - kOverlap, data + size, carry_.begin());
  // What the bytes so far settle is read at once, so that a sharer typed at a terminal shows as
  // its line ends: up to the last byte that ends any link, which no escape or host name spans.
  for (std::size_t end = kOverlap; end > kOverlap - kLookahead + overrun_; --end) {
    const unsigned char byte = carry_[end - 1];
    if ((kClasses[byte] & kUrl) == 0 && byte != '\\') {
      std::array<unsigned char, 2 * kOverlap> padded{};
      std::copy(carry_.begin(), carry_.end(), padded.begin());
      const std::size_t from = kOverlap - kLookahead;
      scan(padded.data(), from, end);
      overrun_ += end - from;
      break;
    }
  }
}

// Reads the places [from, to) of `data`, which holds kLookbehind bytes before them and
// kLookahead after.
void LinkScanner::scan(const unsigned char* data, std::size_t from, std::size_t to) {
  std::size_t at = from + overrun_;
  counted_ = at;
  while (at < to) {
    const Host host = nextHost(data, at, to, counted_, line_);
    if (inLink_)
      at = readLink(data, at, host.length != 0 ? host.start : to);
    if (host.length == 0)
      break;
    // Whatever came before ends where the host name begins.
    if (inLink_)
      endLink();
    startLink(host.twice);
    at = host.start + host.length;
  }
  overrun_ = at > to ? at - to : 0;
}

// Reads the link in [at, end) until it ends; returns where it did, or `end`, or past it when an
// escape runs over.
std::size_t LinkScanner::readLink(const unsigned char* data, std::size_t at, std::size_t end) {
  while (at < end && inLink_) {
    if (const std::uint8_t quiet = quietClass(); quiet != 0) {
      while (at < end && (kClasses[data[at]] & quiet) != 0)
        ++at;
      if (at == end)
        break;
    } else if (link_.inName) {
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
    } else if (link_.inUserKey && link_.valueDigits && !link_.valueTail) {
      // The digits of a key, the most of a link that matters.
      while (at < end && (kClasses[data[at]] & kDigit) != 0 &&
             link_.valueLength < kMaxUserKeyDigits)
        value_[link_.valueLength++] = static_cast<char>(data[at++]);
      if (at == end)
        break;
    }
    const unsigned char byte = data[at];
    // An escape encoded twice stands for a character that shapes the link only in a link encoded
    // twice; elsewhere it is read as written.
    if (const Escape e = beginsEscape(byte) ? escapeAt(data + at) : Escape();
        e.length != 0 && (!e.twice || link_.twice || e.c > 255)) {
      linkChar(e.c);
      at += e.length;
    } else {
      linkChar(byte);
      ++at;
    }
  }
  return at;
}

// The class of the characters that change nothing where the link is, or 0.
std::uint8_t LinkScanner::quietClass() const {
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

void LinkScanner::startLink(bool twice) {
  inLink_ = true;
  linkLine_ = line_;
  link_ = Link();
  link_.twice = twice;
}

void LinkScanner::linkChar(int c) {
  if ((kClasses[c] & kUrl) == 0) {
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
}

void LinkScanner::queryChar(int c) {
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
        l.name[l.nameLength] = c > 255 ? '%' : static_cast<unsigned char>(c);
      l.nameLength = static_cast<std::uint8_t>(std::min(l.nameLength + 1, 5));
      if ((classes & kTrailing) == 0)
        l.nameEnd = l.nameLength;
    }
  } else if (l.inUserKey) {
    if ((classes & kDigit) != 0 && !l.valueTail && l.valueLength < kMaxUserKeyDigits)
      value_[l.valueLength++] = static_cast<char>(c);
    else if ((classes & kTrailing) != 0 || c == kEncodedTail)
      l.valueTail = true;
    else if (c == kEncodedEnd)
      endParameter(true);  // as where the link ends
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
