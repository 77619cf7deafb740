// Writes the repair rule's test cases as JSON lines, {"name", "input", "link"} with the texts as
// arrays of UTF-16 units (lone surrogates and NUL included) and link null when unsupported, so
// that the page is checked against the very table the rule's own tests use.
#include <cstdio>
#include <string>

#include "share_link_test.cpp"

namespace {

std::string units(std::u16string_view text) {
  std::string out = "[";
  for (const char16_t unit : text)
    out += (out.size() > 1 ? "," : "") + std::to_string(static_cast<unsigned>(unit));
  return out + "]";
}

}  // namespace

int main() {
  for (const Case& c : kCases) {
    const std::string link = c.key ? units(kHome + std::u16string(*c.key)) : "null";
    std::printf("{\"name\":\"%s\",\"input\":%s,\"link\":%s}\n", c.name, units(c.input).c_str(),
                link.c_str());
  }
}
