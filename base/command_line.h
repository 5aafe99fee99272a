#ifndef BASE_COMMAND_LINE_H_
#define BASE_COMMAND_LINE_H_

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string_slice.h"

namespace base {

// A program path, switches ("--name=value", "-name", "/name") and plain
// arguments. Switch names are lower-case ASCII; the program, values and
// arguments are UTF-16. One process-wide instance is parsed from
// GetCommandLineW at start-up; others are built to start child processes.
class CommandLine {
 public:
  enum NoProgram { NO_PROGRAM };
  using StringVector = std::vector<std::wstring>;
  // Ordered byte-wise by name, so walks are deterministic; std::less<> lets
  // a query look a name up without copying it into a std::string.
  using SwitchMap = std::map<std::string, std::wstring, std::less<>>;

  explicit CommandLine(NoProgram no_program);
  explicit CommandLine(const FilePath& program);
  CommandLine(const CommandLine& other);
  CommandLine& operator=(const CommandLine& other);
  CommandLine(CommandLine&& other);
  CommandLine& operator=(CommandLine&& other);
  ~CommandLine();

  // Parses GetCommandLineW into the process-wide instance. False (and no
  // change) when it already exists.
  static bool Init();
  // The process-wide instance; null before Init.
  static CommandLine* ForCurrentProcess();
  // Tests only: installs `replacement` (may be null) as the process-wide
  // instance and hands back the previous one, so a test can restore it.
  static std::unique_ptr<CommandLine> SetForCurrentProcessForTesting(
      std::unique_ptr<CommandLine> replacement);

  // Replaces everything by the parse of a whole command line; a blank text
  // leaves the command line as it was.
  void ParseFromString(WideStringSlice command_line);
  void InitFromArgv(int argc, const wchar_t* const* argv);
  void InitFromArgv(const StringVector& argv);

  FilePath GetProgram() const;
  void SetProgram(const FilePath& program);

  // Names are matched exactly: pass them lower-case, without a prefix.
  bool HasSwitch(const char* name) const;
  std::wstring GetSwitchValueNative(StringSlice name) const;
  // Empty when absent or when the value is not pure ASCII.
  std::string GetSwitchValueASCII(StringSlice name) const;
  FilePath GetSwitchValuePath(StringSlice name) const;
  const SwitchMap& GetSwitches() const { return switches_; }
  // Element 0 is the program, then the switches as written, then the plain
  // arguments.
  const StringVector& argv() const { return argv_; }

  // Switch names may carry a prefix and are lower-cased. A name that is not
  // made of ASCII letters, digits and "-_:.?" is dropped (and logged): it
  // could not be rendered back without changing the child's command line.
  void AppendSwitch(StringSlice name);
  void AppendSwitchNative(StringSlice name, WideStringSlice value);
  void AppendSwitchPath(StringSlice name, const FilePath& path);
  // `value` is ASCII; each byte becomes one UTF-16 unit.
  void AppendSwitchASCII(StringSlice name, StringSlice value);
  // Copies those of `names` that `source` has, with their values.
  void CopySelectedSwitches(const CommandLine& source,
                            const char* const names[],
                            size_t count);
  // `value` is UTF-8; appended as it is, after all switches.
  void AppendArg(StringSlice value);
  void AppendArguments(const CommandLine& other, bool include_program);

  // The program, the switches and the arguments, quoted so that
  // CommandLineToArgvW splits them back into the same elements.
  std::wstring GetCommandLineString(bool quote_placeholders = false) const;
  std::wstring GetArgumentsString(bool quote_placeholders = false) const;

 private:
  void AppendSwitchesAndArguments(const StringVector& argv);
  const std::wstring* FindSwitch(StringSlice name) const;

  StringVector argv_;
  SwitchMap switches_;
  // Index in argv_ of the first plain argument: switches are inserted here.
  size_t begin_args_ = 1;
};

// 2 for "--", 1 for "-" or "/", else 0.
size_t GetSwitchPrefixLength(WideStringSlice argument);

// Splits "--name=value" into "--name" and "value". False for anything without
// a prefix and for a bare prefix.
bool IsSwitch(const std::wstring& argument,
              std::wstring* name,
              std::wstring* value);

// Quotes `argument` so that CommandLineToArgvW yields it back as one element.
// With `quote_placeholders`, a "%" forces quoting as well.
std::wstring QuoteForCommandLineToArgvW(const std::wstring& argument,
                                        bool quote_placeholders);

}  // namespace base

#endif  // BASE_COMMAND_LINE_H_
