// The payload reader and the archive unpacking as a program, for the
// end-to-end tests, which build and sign the files and compare with 7zz.
// Results are printed as "<key> <value>" lines; log lines go to standard
// error, verbose ones included.
//
//   package_tool payload FILE [--external=TEXT] [--write=PATH]
//       type, name, length and sha256 of the payload data; with --external
//       the data is set from outside first; with --write, "written 1|0".
//   package_tool unpack ARCHIVE FOLDER [--pause-at=N] [--window=OFFSET:LENGTH]
//       (with --window the archive is that part of the file) open, result, error_state, in_page_status, total, progress (the
//       entries reported, comma-separated) and output_file (UTF-8). With
//       --pause-at, prints "paused" when entry N is about to be unpacked
//       and waits for a line on standard input.

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/package_unpacker/package_unpacker.h"
#include "desktop/windows/installer/signing/checksum.h"

namespace {

bool PrintLogLine(base::LogSeverity severity,
                  const char* file,
                  int line,
                  size_t message_start,
                  const std::string& text) {
  std::fputs(text.c_str() + message_start, stderr);
  std::fflush(stderr);
  return true;
}

// The plain arguments, after the program and without the switches.
std::vector<std::wstring> PlainArguments(
    const base::CommandLine& command_line) {
  std::vector<std::wstring> arguments;
  const base::CommandLine::StringVector& argv = command_line.argv();
  for (size_t i = 1; i < argv.size(); ++i) {
    if (base::GetSwitchPrefixLength(argv[i]) == 0)
      arguments.push_back(argv[i]);
  }
  return arguments;
}

class ProgressRecorder : public installer::PackageFetcher::Delegate {
 public:
  explicit ProgressRecorder(int pause_at) : pause_at_(pause_at) {}

  void SetTotalProgress(int total) override { total_ = total; }
  void SetCurrentProgress(int current) override {
    progress_ += (progress_.empty() ? "" : ",") + std::to_string(current);
    if (current != pause_at_)
      return;
    std::puts("paused");
    std::fflush(stdout);
    char line[16];
    std::fgets(line, sizeof(line), stdin);
  }
  void NotifyStalled() override {}
  void NotifyStatusChanged(int fetch_state) override {}

  int total() const { return total_; }
  const std::string& progress() const { return progress_; }

 private:
  const int pause_at_;
  int total_ = -1;
  std::string progress_;
};

int ReadPayload(const base::CommandLine& command_line) {
  const std::vector<std::wstring> arguments = PlainArguments(command_line);
  installer::PayloadReader reader((base::FilePath(arguments[1])));
  if (command_line.HasSwitch("external")) {
    reader.SetExternalTrackingData(
        base::WideToUtf8(command_line.GetSwitchValueNative("external")));
  }
  const std::string data = reader.GetPayloadData();
  std::printf("type %d\nname %s\nlength %zu\nsha256 %s\n", reader.type(),
              installer::PayloadTypeToString(reader.type()).c_str(),
              data.size(),
              installer::ComputeChecksum(data.data(), data.size()).c_str());
  if (command_line.HasSwitch("write")) {
    const bool written =
        reader.WritePayloadToFile(command_line.GetSwitchValuePath("write"));
    std::printf("written %d\n", written ? 1 : 0);
  }
  return 0;
}

int UnPack(const base::CommandLine& command_line) {
  const std::vector<std::wstring> arguments = PlainArguments(command_line);
  if (arguments.size() != 3)
    return 2;
  int32_t pause_at = -1;
  if (command_line.HasSwitch("pause-at"))
    base::StringToInt(command_line.GetSwitchValueASCII("pause-at"), &pause_at);
  ProgressRecorder recorder(pause_at);
  installer::PackageUnpacker unpacker;
  unpacker.set_delegate(&recorder);
  const std::string window = command_line.GetSwitchValueASCII("window");
  const size_t colon = window.find(':');
  const DWORD opened =
      colon == std::string::npos
          ? unpacker.OpenArchive(base::FilePath(arguments[1]))
          : unpacker.OpenArchive(base::FilePath(arguments[1]),
                                 std::stoull(window.substr(0, colon)),
                                 std::stoull(window.substr(colon + 1)));
  base::FilePath output_file;
  const installer::PackageUnpacker::Result result =
      unpacker.UnPack(base::FilePath(arguments[2]), &output_file);
  std::printf(
      "open %lu\nresult %d\nerror_state %d\nin_page_status %ld\ntotal %d\n"
      "progress %s\noutput_file %s\n",
      opened, result.error, result.stage,
      static_cast<long>(result.in_page_status), recorder.total(),
      recorder.progress().c_str(), output_file.AsUTF8().c_str());
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  base::CommandLine::Init();
  base::LoggingSettings settings;
  settings.logging_destination = base::LOG_NONE;
  base::InitLogging(settings);
  base::SetLogMessageHandler(&PrintLogLine);

  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  const std::vector<std::wstring> arguments = PlainArguments(command_line);
  if (arguments.size() >= 2 && arguments[0] == L"payload")
    return ReadPayload(command_line);
  if (arguments.size() >= 1 && arguments[0] == L"unpack")
    return UnPack(command_line);
  std::fputs(
      "usage: package_tool payload FILE [--external=TEXT] "
      "[--write=PATH] | unpack ARCHIVE FOLDER [--pause-at=N]\n",
      stderr);
  return 2;
}
