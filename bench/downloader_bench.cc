// Downloads one URL with the installer's HTTP downloader into a file, RUNS
// times one after another, and prints the rate of each download (from the
// start of the request to the completion callback, 10^6 bytes per second)
// and their median. The process's own start-up is left out; time the whole
// program from outside to include it.
//   downloader_bench URL OUT_FILE [RUNS]
// bench/downloader_vs_curl.sh serves the file and compares with curl.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/time/tick_time.h"
#include "bench/bench_harness.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/wininet/download_observer.h"
#include "desktop/windows/installer/wininet/file_response_writer.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace {

// A silent run's answers: no prompt is ever shown.
class SilentUIDelegate : public installer::PackageFetcher::UIDelegate {
 public:
  void RunUICallbackAndPostReply(base::Callback<int(HWND)> ui_callback,
                                 base::RefPtr<base::TaskRunner> reply_runner,
                                 base::Callback<void(int)> reply) override {
    reply_runner->PostTask(
        FROM_HERE, base::Bind([](base::Callback<void(int)>& reply) {
          reply.Run(0);
        }, std::move(reply)));
  }
};

// Seconds for one download, or a negative value when it failed.
double TimeDownload(installer::WinInetDownloader& downloader,
                    const std::wstring& url,
                    const base::FilePath& out) {
  auto writer = std::make_unique<installer::FileResponseWriter>();
  if (!writer->Open(out))
    return -1;
  base::LoopRunner loop;
  const base::TickTime start = base::TickTime::Now();
  if (!downloader.Start(url, std::string(), loop.QuitClosure(),
                        std::move(writer),
                        std::make_unique<installer::NullDownloadObserver>())) {
    return -1;
  }
  loop.Run();
  const double seconds = (base::TickTime::Now() - start).InMicroseconds() / 1e6;
  return downloader.state() == installer::WinInetDownloader::COMPLETED
             ? seconds
             : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fputs("usage: downloader_bench URL OUT_FILE [RUNS]\n", stderr);
    return 2;
  }
  const std::wstring url = argv[1];
  const base::FilePath out(argv[2]);
  const int runs = argc > 3 ? std::max(1, _wtoi(argv[3])) : 5;

  base::MessageLoop loop;
  SilentUIDelegate ui_delegate;
  installer::WinInetDownloader downloader(&ui_delegate, nullptr);
  std::vector<double> rates;
  for (int run = 0; run < runs; ++run) {
    const double seconds = TimeDownload(downloader, url, out);
    int64_t size = 0;
    if (seconds <= 0 || !base::GetFileSize(out, &size)) {
      std::fprintf(stderr, "download %d failed: %s\n", run + 1,
                   downloader.GetErrors().c_str());
      return 1;
    }
    rates.push_back(size / 1e6 / seconds);
    bench::Report("download " + std::to_string(run + 1), rates.back(), "MB/s");
  }
  std::sort(rates.begin(), rates.end());
  bench::Report("median", rates[rates.size() / 2], "MB/s");
  return 0;
}
