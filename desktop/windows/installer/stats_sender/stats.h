#ifndef DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_STATS_H_
#define DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_STATS_H_

#include <memory>

#include "base/closure.h"
#include "base/threading/lock.h"
#include "base/time/tick_time.h"
#include "base/values.h"
#include "desktop/windows/installer/stats_sender/stats_node.h"
#include "desktop/windows/installer/wininet/ui_delegate.h"

namespace installer {

class WinInetDownloader;

// The statistics report of one front-end run: a tree that every thread of
// the run fills through `StatsNode` views under one lock, sent once at the
// end as JSON to the update server's feedback endpoint.
class Stats {
 public:
  // Notes the start time and writes the start keys. `ui_delegate` is not
  // owned and must outlive the report.
  explicit Stats(UIDelegate* ui_delegate);
  Stats(const Stats&) = delete;
  Stats& operator=(const Stats&) = delete;
  ~Stats();

  StatsNode* root() { return &root_node_; }

  // Posts the report from the calling thread, which must run a message
  // loop. `done` runs exactly once whatever happens: at once when the
  // report cannot go out (the result is then false), else when the request
  // ends. Without `wait_for_network` an unreachable server is given up
  // after three retries (some 18 seconds) instead of hundreds.
  bool Send(base::Closure done, bool wait_for_network);

  // Lets tests put into the tree what no node would.
  base::DictionaryValue* GetRootForTesting() { return root_.get(); }

 private:
  void AddStartKeys();
  void AddDownloadSummary();

  base::Lock lock_;
  base::DictionaryValueOwner root_;
  const base::TickTime start_time_;
  StatsNode root_node_;
  std::unique_ptr<WinInetDownloader> downloader_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_STATS_H_
