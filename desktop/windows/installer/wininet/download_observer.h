#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_OBSERVER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_OBSERVER_H_

#include <string>

namespace installer {

// Told about each step of a transfer, to record it in the statistics. Called
// from WinINet's threads and from the downloader's owner thread.
class DownloadObserver {
 public:
  virtual ~DownloadObserver() = default;
  // The first request, and a resume that begins a new chunk.
  virtual void OnChunkStart(int bytes_received) = 0;
  virtual void OnConnected(const std::string& address) = 0;
  virtual void OnRedirect(const std::wstring& url) = 0;
  // After the first completion of a request, for the recorded headers; an
  // absent header has an empty value.
  virtual void OnHeader(const std::wstring& name,
                        const std::wstring& value) = 0;
  // At each request completion; 0 on success.
  virtual void OnWinInetError(int error) = 0;
  virtual void OnHttpStatus(int status) = 0;
  virtual void OnRetry(int retry_count) = 0;
  // At each resume and when the session ends.
  virtual void OnChunkEnd(int bytes_received) = 0;
};

// Records nothing.
class NullDownloadObserver : public DownloadObserver {
 public:
  void OnChunkStart(int bytes_received) override {}
  void OnConnected(const std::string& address) override {}
  void OnRedirect(const std::wstring& url) override {}
  void OnHeader(const std::wstring& name, const std::wstring& value) override {
  }
  void OnWinInetError(int error) override {}
  void OnHttpStatus(int status) override {}
  void OnRetry(int retry_count) override {}
  void OnChunkEnd(int bytes_received) override {}
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_OBSERVER_H_
