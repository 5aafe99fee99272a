// Sends the statistics report, or fetches the preference defaults, as the
// controllers do at the end and start of a run, for the end-to-end tests
// whose own server receives the requests. Prints one JSON line:
//
//   stats_prefs_tool [--branding=JSON] --send-stats [--wait-for-network]
//       [--fetches=IP,IP;IP...]
//     {"sent": bool, "done": runs of the done callback}
//   stats_prefs_tool [--branding=JSON] --fetch-prefs=FOLDER [--tracking=TEXT]
//     {"done": runs, "file": whether the file exists, "content": its text}
//
// --branding replaces the host's branding configuration, so that the
// update server is the tests' own. --fetches adds one fetch attempt per
// ";"-separated group, with one download chunk per address of the group.
// The proxy-credentials prompt cannot be shown here: the UI delegate
// refuses it, as a silent run does. Log lines go to standard error.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_list.h"
#include "base/features/feature_reader.h"
#include "base/features/feature_tables.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_writer.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/pref_default_overrides_fetcher/pref_default_overrides_fetcher.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/stats_sender/stats.h"

namespace {

bool PrintLogLine(base::LogSeverity severity,
                  const char* file,
                  int line,
                  size_t message_start,
                  const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  return true;
}

class RefusingUIDelegate : public installer::PackageFetcher::UIDelegate {
 public:
  void RunUICallbackAndPostReply(base::Callback<int(HWND)> ui_callback,
                                 base::RefPtr<base::TaskRunner> reply_runner,
                                 base::Callback<void(int)> reply) override {
    reply_runner->PostTask(
        FROM_HERE,
        base::Bind([](base::Callback<void(int)>& reply) { reply.Run(0); },
                   std::move(reply)));
  }
};

void Print(const base::Value& value) {
  std::string json;
  base::WriteJson(value, &json);
  std::fputs((json + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// Runs `start` with a done callback that counts its runs, until it ran.
template <class Start>
int RunUntilDone(Start start) {
  int done = 0;
  {
    base::LoopRunner loop;
    start(base::Bind(
        [](int* done, base::Closure& quit) {
          ++*done;
          quit.Run();
        },
        &done, loop.QuitClosure()));
    if (done == 0)
      loop.Run();
  }
  // Anything that would wrongly run the callback again shows here.
  base::LoopRunner after;
  base::MessageLoop::current()->task_runner()->PostTask(FROM_HERE,
                                                       after.QuitClosure());
  after.Run();
  return done;
}

void AddFetches(const std::string& groups, installer::StatsNode* root) {
  for (const std::string& group : base::SplitString(
           groups, ";", base::TRIM_WHITESPACE, base::SPLIT_WANT_ALL)) {
    std::unique_ptr<installer::StatsNode> fetch = root->AddListEntry("fetches");
    for (const std::string& address : base::SplitString(
             group, ",", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
      fetch->AddListEntry("download_chunks")->SetString("ip", address);
    }
  }
}

void SendStats(const base::CommandLine& command_line) {
  RefusingUIDelegate ui_delegate;
  installer::Stats stats(&ui_delegate);
  if (command_line.HasSwitch("fetches"))
    AddFetches(command_line.GetSwitchValueASCII("fetches"), stats.root());
  bool sent = false;
  const int done = RunUntilDone([&](base::Closure done) {
    sent = stats.Send(std::move(done),
                      command_line.HasSwitch("wait-for-network"));
  });
  base::DictionaryValueOwner result = base::MakeValue<base::DictionaryValue>();
  result->Set("sent", base::MakeBooleanValue(sent));
  result->SetInteger("done", done);
  Print(*result);
}

void FetchPrefs(const base::CommandLine& command_line) {
  RefusingUIDelegate ui_delegate;
  const base::FilePath folder = command_line.GetSwitchValuePath("fetch-prefs");
  installer::PrefDefaultOverridesFetcher fetcher(folder, &ui_delegate);
  const int done = RunUntilDone([&](base::Closure done) {
    fetcher.FetchPrefDefaultOverrides(
        base::WideToUtf8(command_line.GetSwitchValueNative("tracking")),
        std::move(done));
  });
  const base::FilePath file =
      folder.Append(installer::kPrefDefaultOverridesName);
  std::string content;
  const bool exists = base::ReadFileToString(file, &content);
  base::DictionaryValueOwner result = base::MakeValue<base::DictionaryValue>();
  result->SetInteger("done", done);
  result->Set("file", base::MakeBooleanValue(exists));
  result->SetString("content", content);
  Print(*result);
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  base::CommandLine::Init();
  base::LoggingSettings settings;
  settings.logging_destination = base::LOG_NONE;
  base::InitLogging(settings);
  base::SetLogMessageHandler(&PrintLogLine);

  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch("branding")) {
    installer::internal::SetBrandingForTesting(
        base::WideToUtf8(command_line.GetSwitchValueNative("branding")));
  }
  base::RegisterInstallerFeatures(installer::GetUserAgentName(),
                                  base::FeatureList::GetInstance());
  base::FeatureList::GetInstance()->ApplyReader(
      base::CommandLineFeatureReader(command_line));

  base::MessageLoop loop;
  if (command_line.HasSwitch("send-stats")) {
    SendStats(command_line);
  } else if (command_line.HasSwitch("fetch-prefs")) {
    FetchPrefs(command_line);
  } else {
    std::fputs("usage: stats_prefs_tool --send-stats | --fetch-prefs=FOLDER\n",
               stdout);
    return 2;
  }
  return 0;
}
