#ifndef DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_STATS_NODE_H_
#define DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_STATS_NODE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/strings/string_slice.h"
#include "base/threading/lock.h"
#include "base/time/tick_time.h"
#include "base/time/time.h"
#include "base/values.h"

namespace installer {

// A view onto one dictionary of the statistics report. Nodes own nothing:
// the report's tree owns the dictionaries, and every node shares the
// report's lock and start time, so nodes may be copied and handed between
// threads freely. Keys are dotted paths; missing dictionaries are made.
class StatsNode {
 public:
  StatsNode(base::DictionaryValue* dictionary,
            base::Lock* lock,
            base::TickTime start_time);

  // Appends an empty dictionary to the list at `key` (made when missing) and
  // returns a node for it.
  std::unique_ptr<StatsNode> AddListEntry(base::StringSlice key);
  void SetString(base::StringSlice key, const std::string& value);
  void SetInteger(base::StringSlice key, int32_t value);
  void Increment(base::StringSlice key);
  // The current UTC time as "YYYY-MM-DD hh:mm:ss.mmm".
  void SetTime(base::StringSlice key);
  // key + ".time" and key + ".elapsed" (whole ms since the report began).
  void SetTimeAndElapsed(base::StringSlice key);
  void Remove(base::StringSlice key);

 private:
  base::DictionaryValue* dictionary_;
  base::Lock* lock_;
  base::TickTime start_time_;
};

// `time` in UTC as the report writes it: "YYYY-MM-DD hh:mm:ss.mmm".
std::string FormatStatsTimestamp(base::Time time);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_STATS_NODE_H_
