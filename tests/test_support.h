// Helpers shared by the unit tests: readable UTF-16 in failure messages and test names built
// from a case's description.
#pragma once

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

namespace quenvar::test {

// UTF-16 to UTF-8; control characters and lone surrogates are shown as \uXXXX, so a failure
// still says which unit.
inline std::string utf8(std::u16string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    } else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) {
      static const char* hex = "0123456789ABCDEF";
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4)
        out += hex[(c >> shift) & 0xF];
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

inline std::vector<std::string> utf8(const std::vector<std::u16string>& texts) {
  std::vector<std::string> out;
  for (const auto& t : texts)
    out.push_back(utf8(t));
  return out;
}

// For INSTANTIATE_TEST_SUITE_P: a case's `name` made into a valid test name.
struct CaseName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    std::string name = info.param.name;
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)))
        c = '_';
    }
    return name;
  }
};

}  // namespace quenvar::test
