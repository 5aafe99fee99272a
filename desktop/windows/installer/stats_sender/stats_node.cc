#include "desktop/windows/installer/stats_sender/stats_node.h"

#include <algorithm>
#include <limits>

#include "base/strings/string_format.h"

namespace installer {

namespace {

constexpr char kTimeSuffix[] = ".time";
constexpr char kElapsedSuffix[] = ".elapsed";

std::string JoinKey(base::StringSlice key, const char* suffix) {
  return std::string(key.data(), key.size()) + suffix;
}

}  // namespace

StatsNode::StatsNode(base::DictionaryValue* dictionary,
                     base::Lock* lock,
                     base::TickTime start_time)
    : dictionary_(dictionary), lock_(lock), start_time_(start_time) {}

std::unique_ptr<StatsNode> StatsNode::AddListEntry(base::StringSlice key) {
  base::AutoLock hold(*lock_);
  base::ListValue* list = nullptr;
  if (!dictionary_->GetList(key, &list)) {
    base::ListValueOwner new_list = base::MakeValue<base::ListValue>();
    list = new_list.get();
    dictionary_->Set(key, std::move(new_list));
  }
  base::DictionaryValueOwner entry = base::MakeValue<base::DictionaryValue>();
  base::DictionaryValue* entry_dictionary = entry.get();
  list->Append(std::move(entry));
  return std::make_unique<StatsNode>(entry_dictionary, lock_, start_time_);
}

void StatsNode::SetString(base::StringSlice key, const std::string& value) {
  base::AutoLock hold(*lock_);
  dictionary_->SetString(key, value);
}

void StatsNode::SetInteger(base::StringSlice key, int32_t value) {
  base::AutoLock hold(*lock_);
  dictionary_->SetInteger(key, value);
}

void StatsNode::Increment(base::StringSlice key) {
  base::AutoLock hold(*lock_);
  int32_t count = 0;
  dictionary_->GetInteger(key, &count);
  // A counter stops at the top rather than wrap to a negative count.
  if (count < std::numeric_limits<int32_t>::max())
    ++count;
  dictionary_->SetInteger(key, count);
}

void StatsNode::SetTime(base::StringSlice key) {
  base::AutoLock hold(*lock_);
  dictionary_->SetString(key, FormatStatsTimestamp(base::Time::Now()));
}

void StatsNode::SetTimeAndElapsed(base::StringSlice key) {
  base::AutoLock hold(*lock_);
  const int64_t elapsed_ms =
      (base::TickTime::Now() - start_time_).InMilliseconds();
  const int32_t elapsed = static_cast<int32_t>(
      std::clamp<int64_t>(elapsed_ms, 0, std::numeric_limits<int32_t>::max()));
  dictionary_->SetString(JoinKey(key, kTimeSuffix),
                         FormatStatsTimestamp(base::Time::Now()));
  dictionary_->SetInteger(JoinKey(key, kElapsedSuffix), elapsed);
}

void StatsNode::Remove(base::StringSlice key) {
  base::AutoLock hold(*lock_);
  dictionary_->Remove(key, nullptr);
}

std::string FormatStatsTimestamp(base::Time time) {
  base::Time::Exploded utc;
  time.Explode(false, &utc);
  return base::FormatString("%02d-%02d-%02d %02d:%02d:%02d.%03d", utc.year,
                            utc.month, utc.day_of_month, utc.hour, utc.minute,
                            utc.second, utc.millisecond);
}

}  // namespace installer
