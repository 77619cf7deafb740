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

std::string unescape(std::string_view s) {
  static const std::pair<std::string_view, char> kEscapes[] = {
      {"%3F", '?'},   {"%3f", '?'},   {"%26", '&'},     {"%3D", '='}, {"%3d", '='},
      {"%2F", '/'},   {"%2f", '/'},   {"%3A", ':'},     {"%3a", ':'}, {"%23", '#'},
      {"&amp;", '&'}, {"&#38;", '&'}, {"\\u0026", '&'}, {"\\/", '/'},
  };
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    bool escaped = false;
    for (const auto& [text, c] : kEscapes) {
      if (s.substr(i).starts_with(text)) {
        out += c;
        i += text.size();
        escaped = true;
        break;
      }
    }
    if (!escaped)
      out += s[i++];
  }
  return out;
}

bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isHostChar(char c) {
  return isLetter(c) || isDigit(c) || c == '-' || c == '.';
}
bool isUrlChar(char c) {
  return isHostChar(c) ||
         (c != 0 && std::string_view("_~:/?#@!$&*+,;=%").find(c) != std::string_view::npos);
}
bool sameLetters(std::string_view a, std::string_view lower) {
  return a.size() == lower.size() &&
         std::equal(a.begin(), a.end(), lower.begin(), [](char x, char y) {
           return (isLetter(x) ? static_cast<char>(x | 0x20) : x) == y;
         });
}

// The length of the host name that begins at `at`, or 0. A letter or digit after a byte of 0x81
// or more is the second byte of a GBK character, not part of a host name.
std::size_t hostAt(const std::string& d, std::size_t at) {
  if (at > 0 && isHostChar(d[at - 1]) &&
      !(at > 1 && static_cast<unsigned char>(d[at - 2]) >= 0x81 &&
        (isLetter(d[at - 1]) || isDigit(d[at - 1]))))
    return 0;
  for (std::string_view name :
       {"www.pan.baidu.com", "www.yun.baidu.com", "pan.baidu.com", "yun.baidu.com"}) {
    if (at + name.size() < d.size() &&
        sameLetters(std::string_view(d).substr(at, name.size()), name) &&
        (d[at + name.size()] == '/' || d[at + name.size()] == '?'))
      return name.size();
  }
  return 0;
}

std::vector<std::string> split(const std::string& s, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == separator) {
      parts.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

Found model(std::string_view input) {
  const std::string d = unescape(decodeInput(input));
  std::vector<std::pair<std::size_t, std::size_t>> hosts;  // where, how long
  for (std::size_t i = 0; i < d.size(); ++i) {
    if (const std::size_t length = hostAt(d, i))
      hosts.emplace_back(i, length);
  }
  Found found;
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    const auto [start, length] = hosts[h];
    const std::size_t next = h + 1 < hosts.size() ? hosts[h + 1].first : d.size();
    std::size_t end = start;
    while (end < next && isUrlChar(d[end]))
      ++end;
    // What follows the host name, without trailing punctuation.
    std::string rest = d.substr(start + length, end - start - length);
    while (!rest.empty() &&
           std::string_view(".,;:!?*_~").find(rest.back()) != std::string_view::npos)
      rest.pop_back();
    const std::size_t question = rest.find('?');
    const std::string path = rest.substr(0, question);
    std::string query;
    if (question != std::string::npos)
      query = rest.substr(question + 1, rest.find('#', question + 1) - question - 1);
    std::string key;
    bool surl = false;
    for (const std::string& parameter : split(query, '&')) {
      const std::size_t equals = parameter.find('=');
      const std::string name = parameter.substr(0, equals);
      const std::string value = equals == std::string::npos ? "" : parameter.substr(equals + 1);
      surl = surl || name == "surl";
      if (key.empty() && name == "uk" && !value.empty() && value.size() <= 20 &&
          std::all_of(value.begin(), value.end(), isDigit))
        key = value;
    }
    if (!key.empty())
      found.links.emplace_back(
          key, 1 + std::count(d.begin(), d.begin() + static_cast<long>(start), '\n'));
    else if (path.starts_with("/s/") || surl)
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
