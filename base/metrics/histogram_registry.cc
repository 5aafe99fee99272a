#include "base/metrics/histogram_registry.h"

#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "base/metrics/histogram_base.h"

namespace base {

namespace {

struct Registry {
  std::mutex lock;
  std::map<std::string, std::unique_ptr<HistogramBase>, std::less<>> by_name;
};

// Never destroyed: histograms cached in statics stay usable during exit.
Registry& GetRegistry() {
  union Holder {
    Holder() : registry() {}
    ~Holder() {}
    Registry registry;
  };
  static Holder holder;
  return holder.registry;
}

}  // namespace

HistogramBase* HistogramRegistry::Find(StringSlice name) {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> hold(registry.lock);
  auto found =
      registry.by_name.find(std::string_view(name.data(), name.size()));
  return found == registry.by_name.end() ? nullptr : found->second.get();
}

HistogramBase* HistogramRegistry::Register(
    std::unique_ptr<HistogramBase> histogram) {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> hold(registry.lock);
  auto [entry, added] =
      registry.by_name.try_emplace(histogram->name(), nullptr);
  if (added)
    entry->second = std::move(histogram);
  return entry->second.get();
}

}  // namespace base
