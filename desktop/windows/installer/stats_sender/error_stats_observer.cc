#include "desktop/windows/installer/stats_sender/error_stats_observer.h"

#include <utility>

#include "desktop/windows/installer/stats_sender/stats_node.h"

namespace installer {

ErrorStatsObserver::ErrorStatsObserver(StatsNode* node, std::string prefix)
    : node_(node), prefix_(std::move(prefix)) {}

void ErrorStatsObserver::OnWinInetError(int error) {
  node_->SetInteger(prefix_ + "wininet_error", error);
}

void ErrorStatsObserver::OnHttpStatus(int status) {
  node_->SetInteger(prefix_ + "http_status", status);
}

}  // namespace installer
