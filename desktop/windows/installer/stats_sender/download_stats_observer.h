#ifndef DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_DOWNLOAD_STATS_OBSERVER_H_
#define DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_DOWNLOAD_STATS_OBSERVER_H_

#include <memory>
#include <string>

#include "desktop/windows/installer/wininet/download_observer.h"

namespace installer {

class StatsNode;

// Records each chunk of a download (the first request and every resume that
// begins a new one) as an entry of a list in the statistics: where it began
// and ended, when, which address and status it got, its headers and retry.
class DownloadStatsObserver : public DownloadObserver {
 public:
  // `parent` is not owned and must outlive the download.
  DownloadStatsObserver(StatsNode* parent, std::string list_key);
  ~DownloadStatsObserver() override;

  void OnChunkStart(int bytes_received) override;
  void OnConnected(const std::string& address) override;
  void OnRedirect(const std::wstring& url) override;
  void OnHeader(const std::wstring& name, const std::wstring& value) override;
  void OnWinInetError(int error) override;
  void OnHttpStatus(int status) override;
  void OnRetry(int retry_count) override;
  void OnChunkEnd(int bytes_received) override;

 private:
  StatsNode* parent_;
  std::string list_key_;
  // Null until the first chunk starts; the notices before it go nowhere.
  std::unique_ptr<StatsNode> chunk_;
  int chunk_count_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STATS_SENDER_DOWNLOAD_STATS_OBSERVER_H_
