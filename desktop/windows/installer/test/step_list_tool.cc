// Prints the step lists of the step machine as JSON, for the end-to-end
// rollback test, which injects a failure at the end of every step:
//
//   step_list_tool
//       {"install": [name, ...], "update": [...], "uninstall": [...]}
//
// The names are those of the step table, as the log and the injected
// faults' "step=" points spell them.

#include <cstdio>
#include <string>
#include <utility>

#include "base/json/json_writer.h"
#include "base/values.h"
#include "desktop/windows/installer/backend/installer.h"
#include "desktop/windows/installer/settings/settings.h"

namespace {

struct Operation {
  const char* key;
  installer::Settings::Operation operation;
};

constexpr Operation kOperations[] = {
    {"install", installer::Settings::kInstalling},
    {"update", installer::Settings::kUpgrading},
    {"uninstall", installer::Settings::kUninstalling},
};

}  // namespace

int main() {
  auto lists = base::MakeValue<base::DictionaryValue>();
  for (const Operation& operation : kOperations) {
    auto names = base::MakeValue<base::ListValue>();
    for (installer::Installer::Step step :
         installer::Installer::GetStepList(operation.operation)) {
      names->AppendString(installer::Installer::GetStepName(step));
    }
    lists->SetByKey(operation.key, std::move(names));
  }
  std::string json;
  if (!base::WriteJson(*lists, &json))
    return 1;
  std::printf("%s\n", json.c_str());
  return 0;
}
