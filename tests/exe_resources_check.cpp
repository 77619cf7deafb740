// What Explorer reads from Quenvar.exe, its version information and its icon, read straight from
// the file on the build machine: it checks the x86 program too where no 32-bit program can run.
//   exe_resources_check Quenvar.exe      prints each problem; exit status 1 if there is any
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "icon_check.h"
#include "icon_format.h"
#include "identity.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kIcon = 3, kGroupIcon = 14, kVersion = 16;

std::uint32_t le16(const Bytes& b, std::size_t at) {
  return at + 2 <= b.size() ? b[at] | (b[at + 1] << 8) : 0;
}
std::uint32_t le32(const Bytes& b, std::size_t at) {
  return le16(b, at) | (le16(b, at + 2) << 16);
}

// The data of the first resource with that type and id (any id when null), first language, in a
// PE file (32- or 64-bit) as resource compilers write it: numbered names, and the data in the
// section that holds the tree.
std::optional<Bytes> resource(const Bytes& file, std::uint32_t type,
                              std::optional<std::uint32_t> id) {
  const std::uint32_t pe = le32(file, 0x3C);
  const std::size_t optional = pe + 24;
  const std::uint32_t rva = le32(file, optional + (le16(file, optional) == 0x20B ? 112 : 96) + 16);
  std::optional<std::int64_t> rvaToOffset;
  for (std::uint32_t i = 0; le32(file, pe) == 0x4550 && i < le16(file, pe + 6); ++i) {  // "PE\0\0"
    const std::size_t s = optional + le16(file, pe + 20) + 40 * i;
    if (rva >= le32(file, s + 12) && rva < le32(file, s + 12) + le32(file, s + 8))
      rvaToOffset = le32(file, s + 20) - static_cast<std::int64_t>(le32(file, s + 12));
  }
  if (!rvaToOffset)
    return std::nullopt;
  const std::size_t root = static_cast<std::size_t>(rva + *rvaToOffset);
  // Where the directory entry with that id (or the first) points: a subdirectory or a leaf.
  auto child = [&](std::optional<std::size_t> dir, std::optional<std::uint32_t> wanted) {
    for (std::uint32_t i = 0; dir && i < le16(file, *dir + 12) + le16(file, *dir + 14); ++i) {
      const std::size_t entry = *dir + 16 + 8 * i;
      if (!wanted || le32(file, entry) == *wanted)
        return std::optional<std::size_t>(root + (le32(file, entry + 4) & 0x7FFFFFFF));
    }
    return std::optional<std::size_t>();
  };
  const auto leaf = child(child(child(root, type), id), std::nullopt);
  const std::int64_t data = leaf ? le32(file, *leaf) + *rvaToOffset : -1;
  const std::uint32_t size = leaf ? le32(file, *leaf + 4) : 0;
  if (data < 0 || static_cast<std::size_t>(data) + size > file.size())
    return std::nullopt;
  return Bytes(file.begin() + data, file.begin() + data + size);
}

// A VS_VERSIONINFO node: its key, its value and where its children begin and end.
struct VersionNode {
  std::u16string key;
  std::size_t value, valueBytes, children, end;
};
std::optional<VersionNode> versionNode(const Bytes& b, std::size_t at) {
  const std::size_t length = le16(b, at);
  if (length < 6 || at + length > b.size())
    return std::nullopt;
  VersionNode n{};
  std::size_t p = at + 6;
  for (; p + 1 < at + length && le16(b, p) != 0; p += 2)
    n.key += static_cast<char16_t>(le16(b, p));
  n.value = (p + 2 + 3) & ~std::size_t{3};
  // Text values count UTF-16 units, binary ones bytes.
  n.valueBytes = le16(b, at + 2) * (le16(b, at + 4) == 1 ? 2u : 1u);
  n.children = (n.value + n.valueBytes + 3) & ~std::size_t{3};
  n.end = at + length;
  return n;
}
// The node at the end of `path`, one key for each level below `node`.
std::optional<VersionNode> versionChild(const Bytes& b, std::optional<VersionNode> node,
                                        std::initializer_list<std::string_view> path) {
  for (std::string_view key : path) {
    std::size_t at = node ? node->children : b.size();
    const std::size_t end = node ? node->end : 0;
    node.reset();
    for (std::optional<VersionNode> n; !node && at < end && (n = versionNode(b, at));
         at = (n->end + 3) & ~std::size_t{3}) {
      if (std::equal(n->key.begin(), n->key.end(), key.begin(), key.end()))
        node = n;
    }
  }
  return node;
}

std::vector<std::string> checkVersion(const Bytes& exe) {
  const auto data = resource(exe, kVersion, 1);
  const auto root = data ? versionNode(*data, 0) : std::nullopt;
  if (!root || root->key != u"VS_VERSION_INFO" || root->valueBytes != 52)
    return {"no version information"};
  const Bytes& b = *data;
  std::vector<std::string> problems;
  auto expect = [&](bool ok, const std::string& what) {
    if (!ok)
      problems.push_back("version information: " + what);
  };
  const std::uint32_t v[] = {QUENVAR_VERSION_NUMBERS};
  const std::uint32_t high = v[0] << 16 | v[1], low = v[2] << 16 | v[3];
  const std::size_t f = root->value;  // VS_FIXEDFILEINFO
  expect(le32(b, f) == 0xFEEF04BD, "wrong signature");
  expect(le32(b, f + 8) == high && le32(b, f + 12) == low, "wrong file version");
  expect(le32(b, f + 16) == high && le32(b, f + 20) == low, "wrong product version");
  expect(le32(b, f + 32) == 0x00000004, "wrong file OS (32-bit Windows)");
  expect(le32(b, f + 36) == 1, "wrong file type (application)");
  const auto translation = versionChild(b, root, {"VarFileInfo", "Translation"});
  expect(translation && translation->valueBytes == 4 &&
             le16(b, translation->value) == QUENVAR_LANGUAGE_ID &&
             le16(b, translation->value + 2) == QUENVAR_CODE_PAGE,
         "translation is not Chinese (PRC), Unicode");
  const std::pair<const char*, std::string_view> strings[] = {
      {"FileVersion", QUENVAR_VERSION_STRING}, {"ProductVersion", QUENVAR_VERSION_STRING},
      {"ProductName", QUENVAR_NAME},           {"FileDescription", QUENVAR_NAME},
      {"InternalName", QUENVAR_NAME},          {"OriginalFilename", QUENVAR_EXE_NAME},
  };
  for (auto [name, want] : strings) {
    const auto s = versionChild(b, root, {"StringFileInfo", QUENVAR_LANGUAGE_BLOCK, name});
    std::u16string value;
    for (std::size_t p = s ? s->value : 0; s && p + 1 < s->value + s->valueBytes; p += 2) {
      if (le16(b, p) != 0)
        value += static_cast<char16_t>(le16(b, p));
    }
    expect(s && std::equal(value.begin(), value.end(), want.begin(), want.end()),
           std::string(name) + " is not \"" + std::string(want) + "\"");
  }
  return problems;
}

std::vector<std::string> checkIcon(const Bytes& exe) {
  const auto group = resource(exe, kGroupIcon, std::nullopt);
  std::vector<quenvar::test::IconDirectoryEntry> entries;
  if (!group || !quenvar::test::readIconDirectory(group->data(), group->size(), true, entries))
    return {"no icon"};
  const auto& want = quenvar::icon::kIconImages;
  if (entries.size() != want.size())
    return {"the icon has " + std::to_string(entries.size()) + " images, not " +
            std::to_string(want.size())};
  std::vector<std::string> problems;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string which = "icon image " + std::to_string(i) + ": ";
    if (entries[i].width != want[i].size || entries[i].bitCount != want[i].bitCount)
      problems.push_back(which + "listed as " + std::to_string(entries[i].width) + " px at " +
                         std::to_string(entries[i].bitCount) + " bits");
    const auto image = resource(exe, kIcon, entries[i].offsetOrId);
    const std::string wrong =
        image ? quenvar::test::checkIconImage(image->data(), image->size(), want[i]) : "missing";
    if (!wrong.empty())
      problems.push_back(which + wrong);
  }
  return problems;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: exe_resources_check PROGRAM.exe\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const Bytes exe(std::istreambuf_iterator<char>(in), {});
  std::vector<std::string> problems = checkVersion(exe);
  for (std::string& p : checkIcon(exe))
    problems.push_back(std::move(p));
  for (const std::string& p : problems)
    std::printf("%s: %s\n", argv[1], p.c_str());
  if (problems.empty())
    std::printf("%s: version information and the %zu icon images as expected\n", argv[1],
                quenvar::icon::kIconImages.size());
  return problems.empty() ? 0 : 1;
}
