// The share-link repair rule: turns an expired share link into the sharer's home link.
// Pure text processing on UTF-16 code units; standard library only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quenvar {

// The user key is preceded by this marker, counted from the end of the input.
inline constexpr char16_t kMarker = u'=';
inline constexpr std::size_t MarkerOffset = 11;
inline constexpr std::size_t UserKeyLength = 10;

inline constexpr std::u16string_view kServiceHost = u"pan.baidu.com";
inline constexpr std::u16string_view HomeLinkPath = u"/share/home?uk=";
inline constexpr std::u16string_view kHomeLinkPrefix = u"http://pan.baidu.com/share/home?uk=";

// What the user is told of an unsupported input, in the window and on the command line.
inline constexpr std::u16string_view kUnsupportedMessage = u"暂不支持此链接...";

// Either repaired (with the home link) or unsupported (no link).
struct RepairResult {
  std::optional<std::u16string> homeLink;

  bool repaired() const { return homeLink.has_value(); }
};

// Lengths are in UTF-16 code units; nothing is trimmed, folded or decoded.
RepairResult repairShareLink(std::u16string_view input);

namespace detail {
template <typename Unit>
constexpr std::optional<std::basic_string_view<Unit>> findUserKey(
    std::basic_string_view<Unit> input) {
  const std::size_t n = input.size();
  // An input shorter than the marker offset is taken whole: its first unit must be the marker,
  // and then all of it, marker included, is the key.
  const std::basic_string_view<Unit> tail = input.substr(n - std::min(MarkerOffset, n));
  if (tail.empty() || tail.front() != static_cast<Unit>(kMarker))
    return std::nullopt;
  return input.substr(n - std::min(UserKeyLength, n));
}
}  // namespace detail

// The user key repairShareLink would put after the prefix, as a view into `input`; nullopt when
// the input is unsupported. Only the last MarkerOffset units of the input decide the outcome, so
// callers that stream may pass just those.
constexpr std::optional<std::u16string_view> findUserKey(std::u16string_view input) {
  return detail::findUserKey(input);
}
// The same for ASCII text given as bytes, whose bytes are its units (the command line's fast
// path for lines that end in ASCII).
constexpr std::optional<std::string_view> findUserKeyInAscii(std::string_view ascii) {
  return detail::findUserKey(ascii);
}

}  // namespace quenvar
