#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_HELP_PRINTER_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_HELP_PRINTER_H_

#include <string>
#include <vector>

#include "base/features/feature_tables.h"

namespace installer {

// The help role: opens a console for the process, prints the installer's
// options, the interface languages the `language` option accepts and the
// features the command line can switch, then waits for a key. Prints nothing
// when the console output cannot be opened.
void PrintHelp();

// What the help text is made of.
struct HelpTextContext {
  std::string product_name;
  std::string version;
  std::string stream;
  std::vector<std::wstring> languages;
  // Chooses each feature's default state.
  base::ProductChannelMask feature_mask;
};

// The running installer's product, version, languages and feature masks.
HelpTextContext GetHelpTextContext();
// The text PrintHelp prints, with "\n" line ends.
std::string BuildHelpText(const HelpTextContext& context);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_HELP_PRINTER_H_
