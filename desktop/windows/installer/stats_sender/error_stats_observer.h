#ifndef DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_ERROR_STATS_OBSERVER_H_
#define DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_ERROR_STATS_OBSERVER_H_

#include <string>

#include "desktop/windows/installer/wininet/download_observer.h"

namespace installer {

class StatsNode;

// Keeps the last HTTP status and WinINet error of a request in a node of the
// statistics, as prefix + "http_status" and prefix + "wininet_error".
class ErrorStatsObserver : public DownloadObserver {
 public:
  // `node` is not owned and must outlive the download.
  ErrorStatsObserver(StatsNode* node, std::string prefix);

  void OnChunkStart(int bytes_received) override {}
  void OnConnected(const std::string& address) override {}
  void OnRedirect(const std::wstring& url) override {}
  void OnHeader(const std::wstring& name, const std::wstring& value) override {
  }
  void OnWinInetError(int error) override;
  void OnHttpStatus(int status) override;
  void OnRetry(int retry_count) override {}
  void OnChunkEnd(int bytes_received) override {}

 private:
  StatsNode* node_;
  std::string prefix_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_ERROR_STATS_OBSERVER_H_
