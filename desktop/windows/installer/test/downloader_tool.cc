// Downloads with the installer's HTTP downloader for the end-to-end tests,
// which serve the requests themselves, and prints one JSON line per
// download:
//
//   downloader_tool --url=URL [--out=PATH | --discard] [--body=TEXT]
//       [--allow=SUFFIX,...] [--retry-limit=N] [--repeat=N]
//       [--stop-at=BYTES] [--proxy-replies=RESULT,...] [--timeout-ms=N]
//       [--v=N]
//
// Without --out or --discard the body is collected in a string ("body").
// --repeat runs N downloads one after another on one downloader. --stop-at
// stops the download once that many bytes arrived, destroys the downloader
// and reports what it left behind. The proxy-credentials prompt cannot be
// shown here (no dialog runs under Wine): the UI delegate answers each
// prompt with the next of --proxy-replies, as the dialog would have, and
// with 0, a refused prompt as in a silent run, once they are used up.
// --timeout-ms sets the downloader's connection time-outs: short, so that a
// server gone silent is given up on within a test's time, or beyond the
// test's hang guard, so that no time-out can end an attempt first.
// Log lines go to standard error.
//
// Each line holds: "state", "retry_count", "errors", "completions" (runs of
// the completion callback), "stalled", "total_progress", "current_progress",
// "prompts", "sha256" and "size" of what was written, "body", and "chunks"
// (the download's chunk entries as the statistics record them); after a
// stop also "termination_threads" (live threads of the downloader's
// termination kind) and "file_handles" (handles still open on --out).

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <tlhelp32.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_writer.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/open_handle_count.h"
#include "base/threading/lock.h"
#include "base/threading/thread_name_registry.h"
#include "base/time/tick_time.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/signing/checksum.h"
#include "desktop/windows/installer/stats_sender/download_stats_observer.h"
#include "desktop/windows/installer/stats_sender/stats_node.h"
#include "desktop/windows/installer/wininet/discarding_response_writer.h"
#include "desktop/windows/installer/wininet/file_response_writer.h"
#include "desktop/windows/installer/wininet/string_response_writer.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace {

using installer::WinInetDownloader;

bool PrintLogLine(base::LogSeverity severity,
                  const char* file,
                  int line,
                  size_t message_start,
                  const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  return true;
}

std::vector<int> ParseInts(const std::string& list) {
  std::vector<int> values;
  for (const std::string& item :
       base::SplitString(list, ",", base::TRIM_WHITESPACE,
                         base::SPLIT_WANT_NONEMPTY)) {
    int value = 0;
    if (base::StringToInt(item, &value))
      values.push_back(value);
  }
  return values;
}

// Threads of this process that the downloader's termination started.
int CountTerminationThreads() {
  base::win::ScopedHandle snapshot(
      ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  const DWORD process = ::GetCurrentProcessId();
  for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more;
       more = ::Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID != process)
      continue;
    const std::string name =
        base::ThreadNameRegistry::GetInstance()->GetName(entry.th32ThreadID);
    if (name.rfind("Wininet Termination", 0) == 0)
      ++count;
  }
  return count;
}

// The controller's faces, as a silent run has them.
class ToolDelegates : public installer::PackageFetcher::Delegate,
                      public installer::PackageFetcher::UIDelegate {
 public:
  explicit ToolDelegates(std::vector<int> proxy_replies)
      : proxy_replies_(std::move(proxy_replies)) {}

  void SetTotalProgress(int total) override { total_progress_ = total; }
  void SetCurrentProgress(int current) override {
    current_progress_ = current;
    if (on_progress_)
      on_progress_.Run();
  }
  void NotifyStalled() override { ++stalled_; }
  void NotifyStatusChanged(int state) override {}

  void RunUICallbackAndPostReply(base::Callback<int(HWND)> ui_callback,
                                 base::RefPtr<base::TaskRunner> reply_runner,
                                 base::Callback<void(int)> reply) override {
    const size_t prompt = prompts_++;
    const int result =
        prompt < proxy_replies_.size() ? proxy_replies_[prompt] : 0;
    reply_runner->PostTask(FROM_HERE,
                           base::Bind([](base::Callback<void(int)>& reply,
                                         int result) { reply.Run(result); },
                                      std::move(reply), result));
  }

  void Reset() {
    total_progress_ = current_progress_ = stalled_ = 0;
    prompts_ = 0;
  }
  void set_on_progress(base::Closure on_progress) {
    on_progress_ = std::move(on_progress);
  }
  int total_progress() const { return total_progress_; }
  int current_progress() const { return current_progress_; }
  int stalled() const { return stalled_; }
  int prompts() const { return static_cast<int>(prompts_); }

 private:
  std::vector<int> proxy_replies_;
  size_t prompts_ = 0;
  int total_progress_ = 0;
  int current_progress_ = 0;
  int stalled_ = 0;
  base::Closure on_progress_;
};

class DownloadRun {
 public:
  explicit DownloadRun(const base::CommandLine& command_line)
      : url_(command_line.GetSwitchValueNative("url")),
        body_(base::WideToUtf8(command_line.GetSwitchValueNative("body"))),
        out_(command_line.GetSwitchValuePath("out")),
        discard_(command_line.HasSwitch("discard")),
        delegates_(ParseInts(command_line.GetSwitchValueASCII("proxy-replies"))),
        downloader_(std::make_unique<WinInetDownloader>(&delegates_,
                                                        &delegates_)),
        stats_lock_(),
        start_time_(base::TickTime::Now()) {
    base::StringToInt(command_line.GetSwitchValueASCII("repeat"), &repeat_);
    base::StringToInt(command_line.GetSwitchValueASCII("stop-at"), &stop_at_);
    int retry_limit = 0;
    if (base::StringToInt(command_line.GetSwitchValueASCII("retry-limit"),
                          &retry_limit)) {
      downloader_->set_retry_limit(retry_limit);
    }
    int timeout_ms = 0;
    if (base::StringToInt(command_line.GetSwitchValueASCII("timeout-ms"),
                          &timeout_ms) &&
        timeout_ms > 0) {
      downloader_->set_timeout(base::TimeDelta::FromMilliseconds(timeout_ms));
    }
    std::vector<std::wstring> allowed;
    for (const std::string& suffix : base::SplitString(
             base::WideToUtf8(command_line.GetSwitchValueNative("allow")), ",",
             base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
      allowed.push_back(base::Utf8ToWide(suffix));
    }
    downloader_->set_allowed_host_suffixes(std::move(allowed));
    if (stop_at_ > 0) {
      delegates_.set_on_progress(
          base::Bind([](DownloadRun* run) { run->MaybeStop(); }, this));
    }
  }

  void Run() {
    base::LoopRunner loop;
    quit_ = loop.QuitClosure();
    // A download that cannot start has printed its line already.
    if (StartNext())
      loop.Run();
  }

 private:
  bool StartNext() {
    ++started_;
    delegates_.Reset();
    completions_ = 0;
    // The previous download's observer, which the downloader keeps until
    // it takes the new one, still points into the previous tree.
    base::DictionaryValueOwner root = base::MakeValue<base::DictionaryValue>();
    auto stats = std::make_unique<installer::StatsNode>(
        root.get(), &stats_lock_, start_time_);
    std::unique_ptr<installer::ResponseWriter> writer;
    if (!out_.empty()) {
      auto file_writer = std::make_unique<installer::FileResponseWriter>();
      file_writer->Open(out_);
      writer = std::move(file_writer);
    } else if (discard_) {
      // Bodies of a package's size, for the tests that only count them.
      writer = std::make_unique<installer::DiscardingResponseWriter>(
          installer::kMaxFileSize);
    } else {
      writer = std::make_unique<installer::StringResponseWriter>(&text_);
    }
    const bool started = downloader_->Start(
        url_, body_,
        base::Bind([](DownloadRun* run) { run->OnCompleted(); }, this),
        std::move(writer),
        std::make_unique<installer::DownloadStatsObserver>(stats.get(),
                                                           "download_chunks"));
    root_ = std::move(root);
    stats_ = std::move(stats);
    if (!started) {
      base::DictionaryValueOwner result = Report();
      result->SetInteger("started", 0);
      Print(*result);
      return false;
    }
    return true;
  }

  void OnCompleted() {
    ++completions_;
    // Let anything that would wrongly follow the completion show first.
    base::MessageLoop::current()->task_runner()->PostTask(
        FROM_HERE, base::Bind([](DownloadRun* run) { run->Finish(); }, this));
  }

  void Finish() {
    Print(*Report());
    if (started_ < repeat_ && StartNext())
      return;
    quit_.Run();
  }

  void MaybeStop() {
    if (stopped_ || delegates_.current_progress() < stop_at_)
      return;
    stopped_ = true;
    downloader_->Stop();
    base::MessageLoop::current()->task_runner()->PostTask(
        FROM_HERE,
        base::Bind([](DownloadRun* run) { run->DestroyAfterStop(); }, this));
  }

  void DestroyAfterStop() {
    base::DictionaryValueOwner result = Report();
    downloader_.reset();
    result->SetInteger("termination_threads", CountTerminationThreads());
    if (!out_.empty())
      result->SetInteger("file_handles", base::CountHandlesToFile(out_));
    // Late completions, if any, would run before this.
    base::MessageLoop::current()->task_runner()->PostTaskWithDelay(
        FROM_HERE,
        base::Bind(
            [](DownloadRun* run, base::DictionaryValueOwner& result) {
              result->SetInteger("completions", run->completions_);
              Print(*result);
              run->quit_.Run();
            },
            this, std::move(result)),
        base::TimeDelta::FromMilliseconds(200));
  }

  base::DictionaryValueOwner Report() {
    base::DictionaryValueOwner result =
        base::MakeValue<base::DictionaryValue>();
    result->SetInteger("state", downloader_->state());
    result->SetInteger("retry_count", downloader_->retry_count());
    result->SetString("errors", downloader_->GetErrors());
    result->SetInteger("completions", completions_);
    result->SetInteger("stalled", delegates_.stalled());
    result->SetInteger("total_progress", delegates_.total_progress());
    result->SetInteger("current_progress", delegates_.current_progress());
    result->SetInteger("prompts", delegates_.prompts());
    std::string written = text_;
    if (!out_.empty() && !base::ReadFileToString(out_, &written))
      written.clear();
    result->SetString("sha256", installer::ComputeChecksum(written.data(),
                                                            written.size()));
    result->SetInteger("size", static_cast<int>(written.size()));
    if (out_.empty() && !discard_)
      result->SetString("body", text_);
    {
      base::AutoLock hold(stats_lock_);
      const base::ListValue* chunks = nullptr;
      if (root_->GetList("download_chunks", &chunks))
        result->Set("chunks", chunks->DeepCopyOwned());
    }
    return result;
  }

  static void Print(const base::Value& value) {
    std::string json;
    base::WriteJson(value, &json);
    std::fputs((json + "\n").c_str(), stdout);
    std::fflush(stdout);
  }

  const std::wstring url_;
  const std::string body_;
  const base::FilePath out_;
  const bool discard_;
  int repeat_ = 1;
  int stop_at_ = 0;
  int started_ = 0;
  int completions_ = 0;
  bool stopped_ = false;
  std::string text_;
  ToolDelegates delegates_;
  std::unique_ptr<WinInetDownloader> downloader_;
  base::Lock stats_lock_;
  base::TickTime start_time_;
  base::DictionaryValueOwner root_;
  std::unique_ptr<installer::StatsNode> stats_;
  base::Closure quit_;
};

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  base::CommandLine::Init();
  base::LoggingSettings settings;
  settings.logging_destination = base::LOG_NONE;
  base::InitLogging(settings);
  base::SetLogMessageHandler(&PrintLogLine);

  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (!command_line.HasSwitch("url")) {
    std::fputs("usage: downloader_tool --url=URL [options]\n", stdout);
    return 2;
  }
  base::MessageLoop loop;
  DownloadRun run(command_line);
  run.Run();
  return 0;
}
