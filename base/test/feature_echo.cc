// Sets up its feature list from its own command line, as an installer
// process started with "with-feature:" switches does, and prints what it
// holds so a test can check what reached the child:
//   "switch <name>=<value>"   every switch of its command line
//   "override <name> on|off"  the overrides, in the order they were read
//   "enabled <name> 0|1"      each installer feature's state
//   "log <text>"              each log line (none go to a file)
// --product=<token> picks the product's masks (default "TRV").

#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_list.h"
#include "base/features/feature_tables.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"

namespace {

bool PrintLogLine(base::LogSeverity severity,
                  const char* file,
                  int line,
                  size_t message_start,
                  const std::string& text) {
  std::string message = text.substr(message_start);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
    message.pop_back();
  std::printf("log %s\n", message.c_str());
  return true;
}

}  // namespace

int main() {
  base::SetLogMessageHandler(&PrintLogLine);
  if (!base::CommandLine::Init())
    return 1;
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();

  std::string product = command_line.GetSwitchValueASCII("product");
  if (product.empty())
    product = "TRV";
  base::FeatureList* features = base::FeatureList::GetInstance();
  base::RegisterInstallerFeatures(product, features);
  features->ApplyReader(base::CommandLineFeatureReader(command_line));

  for (const auto& [name, value] : command_line.GetSwitches())
    std::printf("switch %s=%s\n", name.c_str(), base::WideToUtf8(value).c_str());
  std::vector<base::FeatureEntry> states;
  features->GetFeatureStates(&states);
  for (const base::FeatureEntry& entry : states)
    std::printf("override %s %s\n", entry.name.c_str(),
                entry.state ? "on" : "off");
  for (const base::FeatureTableRow& row : base::GetInstallerFeatureTable()) {
    std::printf("enabled %s %d\n", row.name,
                base::IsFeatureEnabled(row.name) ? 1 : 0);
  }
  return std::fflush(stdout) == 0 ? 0 : 2;
}
