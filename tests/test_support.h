// Helpers shared by the unit tests: readable UTF-16 in failure messages and test names built
// from a case's description.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace quenvar::test {

// UTF-16 to UTF-8; control characters and lone surrogates are shown as \uXXXX, so a failure
// still says which unit.
inline std::string utf8(std::u16string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4)
        out += "0123456789ABCDEF"[(c >> shift) & 0xF];
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      const int more = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;  // continuation bytes
      constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
      out += static_cast<char>(kLead[more] | (c >> (6 * more)));
      for (int k = more - 1; k >= 0; --k)
        out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
  }
  return out;
}

// For INSTANTIATE_TEST_SUITE_P: a case's `name` made into a valid test name.
struct CaseName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    std::string name = info.param.name;
    std::replace_if(
        name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
  }
};

}  // namespace quenvar::test
