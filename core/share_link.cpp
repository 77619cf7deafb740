#include "share_link.h"

namespace quenvar {

// The prefix is spelled out once for readability; keep it in step with its parts.
static_assert(kHomeLinkPrefix.starts_with(u"http://") &&
              kHomeLinkPrefix.substr(7, kServiceHost.size()) == kServiceHost &&
              kHomeLinkPrefix.substr(7 + kServiceHost.size()) == HomeLinkPath);

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
