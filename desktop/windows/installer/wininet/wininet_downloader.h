#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_DOWNLOADER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_DOWNLOADER_H_

#include <windows.h>

#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/closure.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/threading/atomic_flag.h"
#include "base/threading/lock.h"
#include "base/time/tick_time.h"
#include "base/time/time_delta.h"
#include "base/timer/timer.h"
#include "base/weak_reference.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/wininet/head_memory_watch.h"
#include "desktop/windows/installer/wininet/progress_delegate.h"
#include "desktop/windows/installer/wininet/request_socket.h"
#include "desktop/windows/installer/wininet/scoped_internet_handle.h"
#include "desktop/windows/installer/wininet/ui_delegate.h"
#include "desktop/windows/installer/wininet/url_parts.h"

namespace installer {

class DownloadObserver;
class ResponseWriter;
class WinInetHandleContext;
class WinInetOpenHandles;
class WinInetTerminationThread;

// Performs one HTTP GET or POST at a time over asynchronous WinINet and
// streams the body into a `ResponseWriter`. Retries after connectivity and
// gateway errors, resumes interrupted transfers with a byte range, asks for
// proxy credentials through the UI delegate and talks only to the allowed
// hosts. Follows redirects itself, each checked as the first URL is, so
// that a request ends after a bounded number of them. Every download ends:
// a body larger than its writer's limit fails, and so does a transfer that
// trickles or outlasts its time limit; an attempt whose head costs more
// memory than `HeadMemoryWatch` allows is retried as a bad answer. Only one
// request is open at a time:
// one given up has its connection shut down, so that WinINet stops reading
// it. Lives on the thread
// that starts it, which must run a message loop: every continuation of a
// download is posted there, and there it watches for a server gone silent
// or slow, since WinINet's asynchronous reads do not time out by
// themselves.
class WinInetDownloader {
 public:
  enum State {
    IDLE = 0,
    REQUEST_SENT = 1,
    RECEIVING = 2,
    STOPPED = 3,
    FAILED = 4,
    COMPLETED = 5,
  };

  // `ui_delegate` is required; `delegate` (progress) may be null. Neither is
  // owned.
  WinInetDownloader(UIDelegate* ui_delegate, ProgressDelegate* delegate);
  WinInetDownloader(const WinInetDownloader&) = delete;
  WinInetDownloader& operator=(const WinInetDownloader&) = delete;
  // Ends the session and waits a few seconds at most for WinINet to let go
  // of it.
  ~WinInetDownloader();

  // Sends a GET, or a POST of `body` when it is not empty. True when the
  // request went out: `completion_callback` then runs exactly once, unless
  // the download is stopped or the downloader destroyed first. False when it
  // could not start (see GetErrors): the state is then FAILED and the
  // callback never runs.
  bool Start(const std::wstring& url,
             const std::string& body,
             base::Closure completion_callback,
             std::unique_ptr<ResponseWriter> writer,
             std::unique_ptr<DownloadObserver> observer);
  // Ends the download without running its completion callback.
  void Stop();

  // The errors that ended the last download, one line each.
  std::string GetErrors() const;
  // The Windows error of the write into the writer that ended the last
  // download (a full disk); 0 when no write failed or its error is unknown.
  uint32_t write_error() const { return write_error_.load(); }
  int state() const { return state_.load(); }
  // The retries and resumes of the current download; 0 after a completion.
  int retry_count() const { return retry_count_; }

  // Set before `Start`: how often a download may retry or resume (600
  // unless lowered; see RetriesWaited), and the host suffixes it may talk to (empty: any host).
  void set_retry_limit(int retry_limit) { retry_limit_ = retry_limit; }
  void set_allowed_host_suffixes(std::vector<std::wstring> suffixes) {
    allowed_host_suffixes_ = std::move(suffixes);
  }
  // How long connecting, sending and each wait for data may take before the
  // connection counts as dropped (60 s): an attempt that sees no progress
  // for that long is given up and resumed, and so is a request whose
  // answer's status line and headers have not all come that long after it
  // was sent, however they trickle. It is also the window over which a
  // body must bring its least number of bytes. Only tests shorten it.
  void set_timeout(base::TimeDelta timeout) { timeout_ = timeout; }

  // The retries an attempt that ended after waiting `waited` in vain uses
  // beyond its own: those an unreachable server, failing at once and
  // retried every pause (6 s), would have had in that time. A silent or
  // trickling server so costs what an unreachable one would, and the limit
  // bounds the whole wait (600 retries: about an hour) whatever the server
  // does.
  static int RetriesWaited(base::TimeDelta waited);

  // Whether `host` is one of `suffixes` or lies inside one of them, ignoring
  // case: "a.example.org" lies inside "example.org", "xexample.org" does
  // not. An empty list allows every host.
  static bool IsDomainAllowed(const std::vector<std::wstring>& suffixes,
                              const std::wstring& host);

 private:
  friend class WinInetHandleContext;

  // On the owner thread.
  // `Start`'s stages: the new download takes the place of the last one, its
  // address is checked, its counters are reset, then the session and the
  // connection are opened. Those returning bool add why they failed to the
  // errors.
  void TakeOver(const std::wstring& url,
                base::Closure completion_callback,
                std::unique_ptr<ResponseWriter> writer,
                std::unique_ptr<DownloadObserver> observer);
  bool CheckUrl(const std::wstring& url, UrlParts* parts);
  void ResetProgress();
  bool OpenSession();
  bool OpenConnection(const UrlParts& parts);
  // The first request of `url_`, at the start or a resume: it and the
  // hops of its redirects carry `extra_headers`.
  bool BeginRequest(const UrlParts& parts, const std::wstring& extra_headers);
  // Sends the current request to `parts`, over a connection to its host.
  bool SendRequest(const UrlParts& parts);
  bool OpenRequest(const UrlParts& parts);
  void FollowRedirect(uint32_t request_id,
                      int status,
                      const std::wstring& location);
  void OnDownloadCompleted(uint32_t request_id);
  void OnDownloadFailed(uint32_t request_id);
  void OnTotalProgress(uint32_t request_id, int64_t total);
  void OnCurrentProgress(uint32_t request_id);
  // Detaches from the current request, ends its silence watch and shuts it
  // down: nothing it posted or still reports acts any more.
  void CloseRequest();
  void Terminate();
  void JoinTerminationThread();
  // Whether posted work of `request_id` may still act: its request is the
  // current one (or the pause after it) of a download that goes on.
  bool IsActive(uint32_t request_id) const;

  // Retries, resumes and the watch for a silent server, on the owner thread
  // (wininet_downloader_retry.cc).
  void CheckRetriesAndResume(uint32_t request_id, int code);
  void ResumeDownload(uint32_t request_id);
  void OnProxyCredentials(uint32_t request_id, int result);
  // Sends the current request again, uncounted: WinINet gave it a
  // connection shut down earlier.
  void ResendRequest(uint32_t request_id);
  void WatchForSilence(uint32_t request_id);
  void CheckForSilence(uint32_t request_id);
  // These end the download, with the reason recorded, when it has run past
  // its time limit or its body came too slowly over the last window.
  bool EndIfPastTimeLimit(uint32_t request_id);
  bool EndIfTooSlow(uint32_t request_id);
  // Gives the request up as a bad answer, to be retried, when its head
  // has cost the process more memory than the head watch allows.
  bool EndIfHeadTooLarge(uint32_t request_id);
  // Any thread.
  void NoteActivity();
  void StartProgressWindow();

  // On WinINet's threads, through the context of the handle called back
  // for, while that context is attached (wininet_downloader_response.cc).
  void OnStatus(WinInetHandleContext* context,
                HINTERNET handle,
                DWORD status,
                void* information,
                DWORD information_length);
  void OnRequestComplete(WinInetHandleContext* context,
                         HINTERNET handle,
                         DWORD error);
  // Whether the writer takes a body of `size` bytes; records why not.
  bool FitsSizeLimit(int64_t size);
  void HandleRequestCompletion(WinInetHandleContext* context, HINTERNET handle);
  bool HandleInitialCompletion(HINTERNET handle);
  bool AcceptPartialContent(HINTERNET handle);
  void QueryPartLength(HINTERNET handle);
  bool RestartBody();
  void RefetchWholeBody(int status);
  void AskForProxyCredentials(HINTERNET handle);
  void HandleCompletionInProgress(WinInetHandleContext* context,
                                  HINTERNET handle);

  // Posting to the owner thread, from any thread.
  void PostFailure();
  void PostCompletion();
  void PostRetry(int code);
  void PostRedirect(int status, const std::wstring& location);
  void PostResend();
  void PostTotalProgress(int64_t total);
  void PostCurrentProgress();

  // Either thread. Logs the message with the text of `error` (a Windows or
  // WinINet error; none when 0) and adds it to the error text.
  void AppendError(const std::string& message, DWORD error = 0);
  bool WriteBlock(const char* data, size_t count);
  void FinishWriter();

  UIDelegate* ui_delegate_;
  ProgressDelegate* delegate_;

  std::atomic<int> state_{IDLE};
  std::wstring url_;
  std::string body_;
  std::vector<std::wstring> allowed_host_suffixes_;
  base::RefPtr<base::SequencedTaskRunner> task_runner_;
  base::Closure completion_callback_;
  // Tells posted work which request it belongs to. It changes whenever a
  // request is opened or closed, so that what a request given up posted
  // before it was detached, its silence watch included, finds it gone and
  // cannot retry or end the one after it. Changed on the owner thread while
  // no request's callback is attached; read by those callbacks.
  std::atomic<uint32_t> request_id_{0};

  ScopedInternetHandle session_;
  ScopedInternetHandle connection_;
  // Where `connection_` goes: a redirect to another host or port needs a
  // connection of its own.
  UrlParts connected_to_;
  ScopedInternetHandle request_;
  // Shut down whenever a request is closed before its body was read to the
  // end, so that WinINet stops reading it.
  RequestSocket request_socket_;
  // Whether the session made a connection or request handle, whose closing
  // WinINet reports through the callback.
  bool made_handles_ = false;
  base::RefPtr<WinInetOpenHandles> open_handles_;
  // What the open connection and request handles call back into; a request
  // given up is detached from at once.
  base::RefPtr<WinInetHandleContext> connection_context_;
  base::RefPtr<WinInetHandleContext> request_context_;
  std::unique_ptr<base::AtomicFlag> cancelled_;
  std::unique_ptr<WinInetTerminationThread> termination_thread_;

  // The writer is used on WinINet's threads while the owner may finish it.
  base::Lock writer_lock_;
  std::unique_ptr<ResponseWriter> writer_;
  bool writer_finished_ = true;
  std::atomic<uint32_t> write_error_{0};
  std::unique_ptr<DownloadObserver> observer_;

  base::TimeDelta timeout_;
  int64_t expected_size_ = 0;
  // A partial answer came from a place other than the bytes held: the next
  // request asks for the whole body, without a range.
  std::atomic<bool> whole_body_wanted_{false};
  std::atomic<int64_t> bytes_received_{0};
  // Where the current request's body began, to tell a chunk that brought
  // data from one that brought nothing.
  std::atomic<int64_t> chunk_start_{0};
  std::atomic<bool> progress_posted_{false};
  // When the current request last showed progress (TickTime's value), and
  // whether it waits on the user rather than on the server.
  std::atomic<int64_t> last_activity_{0};
  std::atomic<bool> awaiting_credentials_{false};
  // Every body byte read in this download, restarts and resumes included,
  // and where the current window of the slowness watch began (TickTime's
  // value, and that count then).
  std::atomic<int64_t> bytes_read_{0};
  std::atomic<int64_t> window_start_{0};
  std::atomic<int64_t> window_start_bytes_{0};

  // Owner thread only.
  // The current request: its URL (`url_` or where its redirects led), the
  // headers it and its hops carry, whether it is a POST of `body_`, and
  // the redirects followed since `url_`.
  std::wstring request_url_;
  std::wstring request_headers_;
  bool request_post_ = false;
  int redirects_ = 0;
  // Times the current attempt was sent again (ResendRequest).
  int resends_ = 0;
  int retry_count_ = 0;
  int retries_without_data_ = 0;
  int retry_limit_ = 600;
  base::TickTime started_at_;
  // When the current attempt sent its first request: what it waited for is
  // charged to the retry limit.
  base::TickTime attempt_started_;
  // When the current request (a hop of a redirect included) was sent: the
  // head of its answer must come within the time-out of it.
  base::TickTime request_sent_at_;
  HeadMemoryWatch head_watch_;
  base::Timer silence_timer_{false, false};

  mutable base::Lock error_lock_;
  std::string errors_;

  base::WeakReferenceSource weak_source_;
  // Taken on the owner thread; WinINet's threads bind copies of it.
  base::WeakReference self_ref_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_DOWNLOADER_H_
