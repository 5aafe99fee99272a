#ifndef BASE_FEATURES_FEATURE_TABLES_H_
#define BASE_FEATURES_FEATURE_TABLES_H_

#include <cstdint>
#include <span>

#include "base/strings/string_slice.h"

namespace base {

class FeatureList;

// A feature of the installer or browser table. A feature is on by default,
// or may be overridden, when its mask shares a bit with the product and
// channel's mask.
struct FeatureTableRow {
  const char* name;
  uint32_t default_mask;
  uint32_t availability_mask;
};

// The masks of one product and release channel.
struct ProductChannelMask {
  uint32_t default_mask = 0;
  uint32_t availability_mask = 0;
};

// The build's release channel.
int32_t GetReleaseChannel();

// The index of the first product/channel row with exactly that token and
// channel, or -1.
int32_t FindProductChannelEntry(StringSlice product_token, int32_t channel);

// The masks of `product_token` (the branding's user agent name, which the
// caller supplies) on this build's channel; (0, 0) for an unknown product.
ProductChannelMask GetProductChannelMask(StringSlice product_token);

bool IsFeatureEnabledByDefault(const FeatureTableRow& row,
                               const ProductChannelMask& current);
bool IsFeatureAvailable(const FeatureTableRow& row,
                        const ProductChannelMask& current);

std::span<const FeatureTableRow> GetInstallerFeatureTable();

// Registers every installer table row on `list`, in table order, with the
// state and overridability that the product's masks give.
void RegisterInstallerFeatures(StringSlice product_token, FeatureList* list);

// The browser table row with exactly that name, or null.
const FeatureTableRow* FindFeature(StringSlice name);

}  // namespace base

#endif  // BASE_FEATURES_FEATURE_TABLES_H_
