// Feeds arbitrary bytes through the link scanner in pieces whose sizes the input picks, each in a
// heap block of exactly its size, and compares the sharers and keyless links found with a
// deliberately simple model written here.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scan.h"

namespace {

struct Found {
  std::vector<std::pair<std::string, std::uint64_t>> links;  // key and line
  std::uint64_t keyless = 0;
  bool operator==(const Found&) const = default;
};

// ---- The model: plain, slow and obviously right. ----

// Bytes as they are, after a UTF-8 byte-order mark, or one byte per UTF-16 unit.
std::string decodeInput(std::string_view in) {
  const bool le = in.starts_with("\xFF\xFE"), be = in.starts_with("\xFE\xFF");
  if (!le && !be)
    return std::string(in.starts_with("\xEF\xBB\xBF") ? in.substr(3) : in);
  std::string out;
  for (std::size_t i = 2; i + 1 < in.size(); i += 2) {
    const unsigned unit =
        le ? static_cast<unsigned char>(in[i]) | static_cast<unsigned char>(in[i + 1]) << 8
           : static_cast<unsigned char>(in[i]) << 8 | static_cast<unsigned char>(in[i + 1]);
    out += unit < 0x80 ? static_cast<char>(unit) : '\x80';
  }
  return out;
}

bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(int c) {
  return c >= '0' && c <= '9';
}
bool isHostChar(char c) {
  return isLetter(c) || isDigit(c) || c == '-' || c == '.';
}
bool isUrlChar(char c) {
  return isHostChar(c) ||
         (c != 0 && std::string_view("_~:/?#@!$&*+,;=%").find(c) != std::string_view::npos);
}
bool isTrailing(int c) {
  return c > 0 && c < 256 &&
         std::string_view(".,;:!?*_~").find(static_cast<char>(c)) != std::string_view::npos;
}
bool sameLetters(std::string_view a, std::string_view lower) {
  return a.size() == lower.size() &&
         std::equal(a.begin(), a.end(), lower.begin(), [](char x, char y) {
           return (isLetter(x) ? static_cast<char>(x | 0x20) : x) == y;
         });
}

// A key ends, in a link, at an escaped character outside a URL's, or at escaped punctuation at
// the link's end.
constexpr int kEnd = 256, kTail = 257;

// One character of the text: a byte, or an escape.
struct Unit {
  std::string raw;
  char byte;  // what it stands for
  int c;      // what that is in a link
  bool twice = false;
};

std::vector<Unit> units(const std::string& d) {
  static const std::pair<std::string_view, char> kEscapes[] = {
      {"&amp;", '&'}, {"&#38;", '&'}, {"\\u0026", '&'}, {"\\/", '/'}};
  auto hex = [](char c) {
    return isDigit(c) || isLetter(c) ? std::string_view("0123456789abcdef").find(c | 0x20)
                                     : std::string_view::npos;
  };
  std::vector<Unit> out;
  for (std::size_t i = 0; i < d.size();) {
    Unit u{d.substr(i, 1), d[i], static_cast<unsigned char>(d[i])};
    for (const auto& [text, c] : kEscapes) {
      if (d.compare(i, text.size(), text) == 0)
        u = {std::string(text), c, c};
    }
    for (const bool twice : {false, true}) {
      const std::size_t at = i + (twice ? 3 : 1);
      if (d[i] != '%' || (twice && d.compare(i, 3, "%25") != 0) || at + 1 >= d.size() ||
          hex(d[at]) > 15 || hex(d[at + 1]) > 15)
        continue;
      const char byte = static_cast<char>(hex(d[at]) * 16 + hex(d[at + 1]));
      const int c = std::string_view("?&=/:#").find(byte) != std::string_view::npos ? byte
                    : isTrailing(static_cast<unsigned char>(byte))                  ? kTail
                    : !isUrlChar(byte)                                              ? kEnd
                                                                                    : -1;
      if (c != -1)
        u = {d.substr(i, twice ? 5 : 3), byte, c, twice};
    }
    i += u.raw.size();
    out.push_back(u);
  }
  return out;
}

struct HostAt {
  std::size_t length = 0;  // in units, 0 when none
  bool twice = false;
};

// The host name that begins at unit `at`. A letter or digit after a byte of 0x81 or more is the
// second byte of a GBK character, not part of a host name.
HostAt hostAt(const std::vector<Unit>& u, std::size_t at) {
  if (at > 0 && isHostChar(u[at - 1].byte) &&
      !(u[at - 1].raw.size() == 1 && at > 1 && u[at - 2].raw.size() == 1 &&
        static_cast<unsigned char>(u[at - 2].byte) >= 0x81 && u[at - 1].byte != '-' &&
        u[at - 1].byte != '.'))
    return {};
  for (const auto& host : quenvar::cli::kHostNames) {
    for (const std::string& name :
         {std::string(host.name), std::string(host.prefix) + std::string(host.name)}) {
      std::string plain;
      for (std::size_t i = at; i < u.size() && i < at + name.size() && u[i].raw.size() == 1; ++i)
        plain += u[i].byte;
      const std::size_t after = at + name.size();
      if (sameLetters(plain, name) && after < u.size() && (u[after].c == '/' || u[after].c == '?'))
        return {name.size(), u[after].twice};
    }
  }
  return {};
}

Found model(std::string_view input) {
  const std::string d = decodeInput(input);
  const std::vector<Unit> u = units(d);
  std::vector<std::pair<std::size_t, HostAt>> hosts;
  for (std::size_t i = 0; i < u.size(); ++i) {
    if (const HostAt host = hostAt(u, i); host.length != 0)
      hosts.emplace_back(i, host);
  }
  Found found;
  std::size_t line = 1, counted = 0;
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    const auto [start, host] = hosts[h];
    const std::size_t next = h + 1 < hosts.size() ? hosts[h + 1].first : u.size();
    // What follows the host name, up to its end: an escape encoded twice stands for its character
    // only in a link whose '/' or '?' is encoded twice.
    std::vector<int> rest;
    for (std::size_t i = start + host.length;
         i < next && (u[i].raw.size() > 1 || isUrlChar(u[i].byte)); ++i) {
      if (u[i].twice && u[i].c < 256 && !host.twice)
        rest.insert(rest.end(), u[i].raw.begin(), u[i].raw.end());
      else
        rest.push_back(u[i].c);
    }
    while (!rest.empty() && isTrailing(rest.back()))
      rest.pop_back();
    const auto question = std::find(rest.begin(), rest.end(), '?');
    const auto hash = std::find(question, rest.end(), '#');
    std::string key;
    bool surl = false;
    for (auto p = question == rest.end() ? rest.end() : question + 1; p < hash;) {
      const auto end = std::find(p, hash, '&');
      const auto equals = std::find(p, end, '=');
      const std::vector<int> name(p, equals);
      surl = surl || name == std::vector<int>{'s', 'u', 'r', 'l'};
      if (key.empty() && name == std::vector<int>{'u', 'k'} && equals != end) {
        // Digits, then perhaps punctuation: up to where a key ends, or to the link's end.
        const auto v = equals + 1;
        const auto digits = std::find_if_not(v, end, isDigit);
        const auto tail =
            std::find_if_not(digits, end, [](int c) { return isTrailing(c) || c == kTail; });
        if (digits > v && digits - v <= 20 &&
            (tail == digits ? tail == end || *tail == kEnd
                            : (tail != end && *tail == kEnd) || (tail == end && end == rest.end())))
          key.assign(v, digits);
      }
      p = end == hash ? hash : end + 1;
    }
    for (; counted < start; ++counted)
      line += std::count(u[counted].raw.begin(), u[counted].raw.end(), '\n');
    if (!key.empty())
      found.links.emplace_back(key, line);
    else if ((rest.size() >= 3 && rest[0] == '/' && rest[1] == 's' && rest[2] == '/') || surl)
      ++found.keyless;
  }
  return found;
}

// ---- The scanner, fed in pieces. ----

Found actual(std::string_view input, const std::vector<std::size_t>& pieces) {
  Found found;
  quenvar::cli::LinkScanner scanner;
  auto onLink = [&](std::string_view key, std::uint64_t line) {
    found.links.emplace_back(std::string(key), line);
  };
  std::size_t at = 0;
  for (std::size_t i = 0; at < input.size(); ++i) {
    const std::size_t size = std::min(pieces[i % pieces.size()], input.size() - at);
    // Exactly its size, so that a read past either end is caught.
    const auto piece = std::make_unique<char[]>(size);
    std::copy_n(input.data() + at, size, piece.get());
    scanner.feed(piece.get(), size, onLink);
    at += size;
  }
  scanner.finish(onLink);
  found.keyless = scanner.keylessLinks();
  return found;
}

// Inputs made of these pieces of links are far likelier to hold links than random bytes.
const std::string kTokens[] = {
    "pan.baidu.com",
    "yun.baidu.com",
    "www.",
    "PAN.Baidu.COM",
    "https://",
    "//",
    "/share/link",
    "/share/home",
    "/s/",
    "?",
    "&",
    "uk=",
    "surl=",
    "shareid=",
    "&amp;",
    "&#38;",
    "\\u0026",
    "\\/",
    "%3F",
    "%3f",
    "%26",
    "%3D",
    "%2F",
    "%3A",
    "%23",
    "%22",
    "%2522",
    "%27",
    "%20",
    "%3c",
    "%3E",
    "%29",
    "%5D",
    "%2C",
    "%2c",
    "%E4",
    "%0A",
    "%2E",
    "%25",
    "%253F",
    "%253d",
    "%2526",
    "%252F",
    "%2523",
    "#",
    "=",
    "1234567890",
    "12345678901234567890",
    "\n",
    " ",
    "\"",
    "'",
    "<",
    ")",
    "[url]",
    "[/url]",
    ".",
    ",",
    "!",
    "\xE4\xB8\xAD",
    std::string(1, '\0'),
    "fuk=",
    "0",
    "%",
    "\\",
    "&a",
    // Whole pieces, so that what surrounds them is a few steps away.
    "www.pan.baidu.com/?uk=",
    "https://pan.baidu.com/share/link?shareid=1&uk=",
    "pan.baidu.com%2Fshare%3Fuk%3D",
    "pan.baidu.com%252Fshare%253Fuk%253D",
    "pan.baidu.com/s/1",
    "?surl=",
    // Text without links, long enough for the block scan, with near misses of its anchor.
    "Lorem ipsum <b>bold</b> tieba.baidu.com/f?kw=1 hm.baidu.com/hm.js? www.baidu.com/s?wd= "
    "pan.baidu.comx/ pan.baidu.com.cn/ xpan.baidu.com/ BAIDU.com/ ",
    std::string(200, 'x'),
};

}  // namespace

// The first byte picks the piece sizes, the second how the rest is read: whether its low bytes
// stand for the tokens above, and in which encoding it is given.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2)
    return 0;
  static const std::vector<std::size_t> kPieces[] = {
      {1},
      {2},
      {3},
      {7},
      {16},
      {17},
      {31},
      {64},
      {65},
      {100},
      {4096},
      {1, 50},
      {13, 97},
      {5, 200, 1},
      {33, 2, 8},
      {1000, 1, 3},
      {2, 300, 5, 61},
      {1u << 20},
  };
  const std::vector<std::size_t>& pieces = kPieces[data[0] % std::size(kPieces)];
  const bool tokens = (data[1] & 1) != 0;
  const unsigned encoding = (data[1] >> 1) % 4;
  std::string text;
  for (std::size_t i = 2; i < size && text.size() < (1u << 16); ++i) {
    if (tokens && data[i] < std::size(kTokens))
      text += kTokens[data[i]];
    else
      text += static_cast<char>(data[i]);
  }
  std::string input;
  if (encoding == 0) {
    input = text;
  } else if (encoding == 3) {
    input = "\xEF\xBB\xBF" + text;
  } else {
    // UTF-16 with a byte-order mark; bytes above 0x7F become units outside ASCII.
    input = encoding == 1 ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : text) {
      const char high = static_cast<unsigned char>(c) < 0x80 ? '\0' : '\x4E';
      input += encoding == 1 ? std::string{c, high} : std::string{high, c};
    }
    if ((data[1] & 0x10) != 0)
      input += 'x';  // an odd byte at the end
  }
  const Found expected = model(input);
  if (actual(input, pieces) != expected || actual(input, {input.size() + 1}) != expected)
    std::abort();
  return 0;
}
