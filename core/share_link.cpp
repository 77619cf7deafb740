#include "share_link.h"

#include <algorithm>

namespace quenvar {

// The prefix is spelled out once for readability; keep it in step with its parts.
static_assert(kHomeLinkPrefix.starts_with(u"http://") &&
              kHomeLinkPrefix.substr(7, kServiceHost.size()) == kServiceHost &&
              kHomeLinkPrefix.substr(7 + kServiceHost.size()) == HomeLinkPath);

std::optional<std::u16string_view> findUserKey(std::u16string_view input) {
  const std::size_t n = input.size();
  // An input shorter than the marker offset is taken whole: its first unit must be the marker,
  // and then all of it, marker included, is the key.
  const std::u16string_view tail = input.substr(n - std::min(MarkerOffset, n));
  if (tail.empty() || tail.front() != kMarker) {
    return std::nullopt;
  }
  return input.substr(n - std::min(UserKeyLength, n));
}

RepairResult repairShareLink(std::u16string_view input) {
  const std::optional<std::u16string_view> key = findUserKey(input);
  if (!key) {
    return {};
  }
  std::u16string link;
  link.reserve(kHomeLinkPrefix.size() + key->size());
  link.append(kHomeLinkPrefix).append(*key);
  return {std::move(link)};
}

}  // namespace quenvar
