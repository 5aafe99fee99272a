#include "desktop/windows/installer/stats_sender/download_stats_observer.h"

#include <utility>

#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/stats_sender/stats_node.h"

namespace installer {

DownloadStatsObserver::DownloadStatsObserver(StatsNode* parent,
                                             std::string list_key)
    : parent_(parent), list_key_(std::move(list_key)) {}

DownloadStatsObserver::~DownloadStatsObserver() = default;

void DownloadStatsObserver::OnChunkStart(int bytes_received) {
  chunk_ = parent_->AddListEntry(list_key_);
  chunk_->SetInteger("chunk_start", bytes_received);
  chunk_->SetInteger("chunk_number", chunk_count_);
  chunk_->SetTimeAndElapsed("chunk_start_time");
}

void DownloadStatsObserver::OnConnected(const std::string& address) {
  if (chunk_)
    chunk_->SetString("ip", address);
}

void DownloadStatsObserver::OnRedirect(const std::wstring& url) {
  if (chunk_)
    chunk_->SetString("redirected_url", base::WideToUtf8(url));
}

void DownloadStatsObserver::OnHeader(const std::wstring& name,
                                     const std::wstring& value) {
  if (chunk_)
    chunk_->SetString("headers." + base::WideToUtf8(name),
                      base::WideToUtf8(value));
}

void DownloadStatsObserver::OnWinInetError(int error) {
  if (chunk_)
    chunk_->SetInteger("wininet_error", error);
}

void DownloadStatsObserver::OnHttpStatus(int status) {
  if (chunk_)
    chunk_->SetInteger("http_status", status);
}

void DownloadStatsObserver::OnRetry(int retry_count) {
  if (chunk_)
    chunk_->SetInteger("retry_count", retry_count);
}

void DownloadStatsObserver::OnChunkEnd(int bytes_received) {
  if (!chunk_)
    return;
  chunk_->SetInteger("chunk_end", bytes_received);
  chunk_->SetTimeAndElapsed("chunk_end_time");
  ++chunk_count_;
}

}  // namespace installer
