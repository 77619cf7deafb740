// What Explorer reads from Quenvar.exe, its version information and its icon, read straight from
// the file on the build machine: it checks the x86 program too where no 32-bit program can run.
//   exe_resources_check Quenvar.exe      prints each problem; exit status 1 if there is any
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
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

// The resources of a PE file (32- or 64-bit): the tree of type, name and language, with names
// that are numbers, as resource compilers write them for this program.
class PeResources {
 public:
  explicit PeResources(Bytes file) : file_(std::move(file)) {
    const std::uint32_t pe = le32(file_, 0x3C);
    if (le32(file_, pe) != 0x4550)  // "PE\0\0"
      return;
    const std::size_t optional = pe + 24;
    const bool plus = le16(file_, optional) == 0x20B;
    const std::uint32_t rva = le32(file_, optional + (plus ? 112 : 96) + 2 * 8);
    const std::size_t sections = optional + le16(file_, pe + 20);
    for (std::uint32_t i = 0; i < le16(file_, pe + 6); ++i) {
      const std::size_t s = sections + 40 * i;
      sections_.push_back({le32(file_, s + 12), le32(file_, s + 8), le32(file_, s + 20)});
    }
    if (const auto at = fileOffset(rva))
      root_ = *at;
  }

  // The data of the first entry with that id (any id when null) under `type`, first language.
  std::optional<Bytes> find(std::uint32_t type, std::optional<std::uint32_t> id) const {
    if (!root_)
      return std::nullopt;
    auto names = child(*root_, type);
    auto languages = names ? child(*names, id) : std::nullopt;
    auto leaf = languages ? child(*languages, std::nullopt) : std::nullopt;
    if (!leaf)
      return std::nullopt;
    const auto data = fileOffset(le32(file_, *leaf));
    const std::uint32_t size = le32(file_, *leaf + 4);
    if (!data || *data + size > file_.size())
      return std::nullopt;
    return Bytes(file_.begin() + static_cast<long>(*data),
                 file_.begin() + static_cast<long>(*data + size));
  }

 private:
  struct Section {
    std::uint32_t rva, size, offset;
  };
  std::optional<std::size_t> fileOffset(std::uint32_t rva) const {
    for (const Section& s : sections_) {
      if (rva >= s.rva && rva < s.rva + s.size)
        return std::size_t{s.offset} + (rva - s.rva);
    }
    return std::nullopt;
  }
  // The entry of a resource directory with that id, or its first entry; a subdirectory's offset
  // in the file, or a leaf's.
  std::optional<std::size_t> child(std::size_t dir, std::optional<std::uint32_t> id) const {
    const std::uint32_t count = le16(file_, dir + 12) + le16(file_, dir + 14);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::size_t entry = dir + 16 + 8 * i;
      if (id && le32(file_, entry) != *id)
        continue;
      return *root_ + (le32(file_, entry + 4) & 0x7FFFFFFF);
    }
    return std::nullopt;
  }

  Bytes file_;
  std::vector<Section> sections_;
  std::optional<std::size_t> root_;
};

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
std::optional<VersionNode> versionChild(const Bytes& b, const VersionNode& parent,
                                        std::u16string_view key) {
  for (std::size_t at = parent.children; at < parent.end;) {
    const auto n = versionNode(b, at);
    if (!n)
      return std::nullopt;
    if (n->key == key)
      return n;
    at = (n->end + 3) & ~std::size_t{3};
  }
  return std::nullopt;
}

std::u16string u16(const char* ascii) {
  return std::u16string(ascii, ascii + std::char_traits<char>::length(ascii));
}

std::vector<std::string> checkVersion(const PeResources& exe) {
  const auto data = exe.find(kVersion, 1);
  const auto root = data ? versionNode(*data, 0) : std::nullopt;
  if (!root || root->key != u"VS_VERSION_INFO" || root->valueBytes != 52)
    return {"no version information"};
  const Bytes& b = *data;
  std::vector<std::string> problems;
  const std::uint32_t v[] = {QUENVAR_VERSION_NUMBERS};
  const std::uint32_t high = v[0] << 16 | v[1], low = v[2] << 16 | v[3];
  const std::size_t f = root->value;
  const std::pair<const char*, bool> fixed[] = {
      {"signature", le32(b, f) == 0xFEEF04BD},
      {"file version", le32(b, f + 8) == high && le32(b, f + 12) == low},
      {"product version", le32(b, f + 16) == high && le32(b, f + 20) == low},
      {"file OS (32-bit Windows)", le32(b, f + 32) == 0x00000004},
      {"file type (application)", le32(b, f + 36) == 1},
  };
  for (auto [what, ok] : fixed) {
    if (!ok)
      problems.push_back(std::string("version information: wrong ") + what);
  }
  const auto var = versionChild(b, *root, u"VarFileInfo");
  const auto translation = var ? versionChild(b, *var, u"Translation") : std::nullopt;
  if (!translation || translation->valueBytes != 4 ||
      le16(b, translation->value) != QUENVAR_LANGUAGE_ID ||
      le16(b, translation->value + 2) != QUENVAR_CODE_PAGE)
    problems.push_back("version information: translation is not Chinese (PRC), Unicode");
  const auto files = versionChild(b, *root, u"StringFileInfo");
  const auto table = files ? versionChild(b, *files, u16(QUENVAR_LANGUAGE_BLOCK)) : std::nullopt;
  const std::pair<const char*, const char*> strings[] = {
      {"FileVersion", QUENVAR_VERSION_STRING}, {"ProductVersion", QUENVAR_VERSION_STRING},
      {"ProductName", QUENVAR_NAME},           {"FileDescription", QUENVAR_NAME},
      {"InternalName", QUENVAR_NAME},          {"OriginalFilename", QUENVAR_EXE_NAME},
  };
  for (auto [name, want] : strings) {
    const auto s = table ? versionChild(b, *table, u16(name)) : std::nullopt;
    std::u16string value;
    for (std::size_t p = s ? s->value : 0; s && p + 1 < s->value + s->valueBytes; p += 2) {
      if (le16(b, p) != 0)
        value += static_cast<char16_t>(le16(b, p));
    }
    if (!s || value != u16(want))
      problems.push_back(std::string("version information: ") + name + " is not \"" + want + "\"");
  }
  return problems;
}

std::vector<std::string> checkIcon(const PeResources& exe) {
  const auto group = exe.find(kGroupIcon, std::nullopt);
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
    const auto image = exe.find(kIcon, entries[i].offsetOrId);
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
  const PeResources exe(Bytes(std::istreambuf_iterator<char>(in), {}));
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
