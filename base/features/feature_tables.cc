#include "base/features/feature_tables.h"

#include <iterator>

#include "base/features/feature_list.h"

namespace base {

namespace {

constexpr int32_t kReleaseChannel = 2;

struct ProductChannelRow {
  const char* product_token;
  int32_t channel;
  ProductChannelMask mask;
};

constexpr ProductChannelRow kProductChannels[] = {
    {"TRV", 1, {0x7, 0x7}}, {"TRV", 2, {0x6, 0x6}}, {"TRV", 3, {0x4, 0x4}},
    {"TRV", 4, {0x4, 0x4}}, {"QMX", 1, {0x8, 0x8}}, {"QMX", 2, {0x8, 0x8}},
    {"QMX", 3, {0x8, 0x8}}, {"QMX", 4, {0x8, 0x8}},
};

constexpr FeatureTableRow kInstallerFeatures[] = {
    {"installer-experiment-test", 0x0, 0xFFFF},
    {"installer-hide-from-program-and-features", 0x8, 0x0},
    {"installer-pref-default-overrides-support", 0x7, 0xFFFF},
    {"installer-support-x64-download", 0x7, 0xFFFF},
};

// The browser's own features that installer code looks up by name.
constexpr FeatureTableRow kBrowserFeatures[] = {
    {"alternative-crash-logging", 0x0, 0xFFFF},
};

}  // namespace

int32_t GetReleaseChannel() {
  return kReleaseChannel;
}

int32_t FindProductChannelEntry(StringSlice product_token, int32_t channel) {
  for (size_t i = 0; i < std::size(kProductChannels); ++i) {
    const ProductChannelRow& row = kProductChannels[i];
    if (row.channel == channel && product_token.Equals(row.product_token))
      return static_cast<int32_t>(i);
  }
  return -1;
}

ProductChannelMask GetProductChannelMask(StringSlice product_token) {
  const int32_t index =
      FindProductChannelEntry(product_token, GetReleaseChannel());
  return index < 0 ? ProductChannelMask() : kProductChannels[index].mask;
}

bool IsFeatureEnabledByDefault(const FeatureTableRow& row,
                               const ProductChannelMask& current) {
  return (row.default_mask & current.default_mask) != 0;
}

bool IsFeatureAvailable(const FeatureTableRow& row,
                        const ProductChannelMask& current) {
  return (row.availability_mask & current.availability_mask) != 0;
}

std::span<const FeatureTableRow> GetInstallerFeatureTable() {
  return kInstallerFeatures;
}

void RegisterInstallerFeatures(StringSlice product_token, FeatureList* list) {
  const ProductChannelMask current = GetProductChannelMask(product_token);
  for (const FeatureTableRow& row : kInstallerFeatures) {
    list->RegisterFeature(row.name, IsFeatureEnabledByDefault(row, current),
                          IsFeatureAvailable(row, current));
  }
}

const FeatureTableRow* FindFeature(StringSlice name) {
  for (const FeatureTableRow& row : kBrowserFeatures) {
    if (name.Equals(row.name))
      return &row;
  }
  return nullptr;
}

}  // namespace base
