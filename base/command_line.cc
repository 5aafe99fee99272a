#include "base/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <string_view>
#include <utility>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_alloc.h"

namespace base {

namespace {

// Published once by compare-and-swap; deliberately never freed, so that late
// readers (exit callbacks, crash handling) never see it go away.
std::atomic<CommandLine*> g_current_process{nullptr};

constexpr const wchar_t* kSwitchPrefixes[] = {L"--", L"-", L"/"};
constexpr wchar_t kSwitchTerminator[] = L"--";
constexpr wchar_t kSwitchValueSeparator = L'=';

// What forces an argument into quotes: the units CommandLineToArgvW (and the
// C runtime) split on or treat specially. Every ASCII whitespace unit is
// included, not only space and tab, since quoting more is always safe.
constexpr wchar_t kQuoteTriggers[] = L" \t\n\v\f\r\\\"";

std::wstring CutAtNul(WideStringSlice text) {
  return std::wstring(text.begin(), std::find(text.begin(), text.end(), L'\0'));
}

std::wstring TrimWhitespace(const std::wstring& text) {
  std::wstring trimmed;
  TrimWideString(text, UnicodeWhitespace, &trimmed);
  return trimmed;
}

// Switch names travel unquoted, so only units that no argument splitter and
// no shell treats specially may appear in them. "?" is allowed for "/?".
bool IsValidSwitchName(StringSlice name) {
  if (name.empty())
    return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ':' ||
           c == '.' || c == '?';
  });
}

// A dropped name comes from outside: keep control units and non-ASCII out of
// the log line.
std::string PrintableName(StringSlice name) {
  std::string printable(name.begin(), name.end());
  for (char& c : printable) {
    if (c < 0x20 || c > 0x7E)
      c = '?';
  }
  return printable;
}

void LogDroppedSwitch(StringSlice name) {
  LOG(ERROR) << "Dropped a switch with an unsafe name: \""
             << PrintableName(name) << "\"";
}

}  // namespace

CommandLine::CommandLine(NoProgram) : argv_(1) {}

CommandLine::CommandLine(const FilePath& program) : argv_(1) {
  SetProgram(program);
}

CommandLine::CommandLine(const CommandLine& other) = default;
CommandLine& CommandLine::operator=(const CommandLine& other) = default;
CommandLine::CommandLine(CommandLine&& other) = default;
CommandLine& CommandLine::operator=(CommandLine&& other) = default;
CommandLine::~CommandLine() = default;

// static
bool CommandLine::Init() {
  if (g_current_process.load(std::memory_order_acquire))
    return false;
  auto parsed = std::make_unique<CommandLine>(NO_PROGRAM);
  parsed->ParseFromString(::GetCommandLineW());
  CommandLine* expected = nullptr;
  if (!g_current_process.compare_exchange_strong(expected, parsed.get(),
                                                 std::memory_order_acq_rel)) {
    return false;
  }
  parsed.release();  // lives for the rest of the process
  return true;
}

// static
CommandLine* CommandLine::ForCurrentProcess() {
  return g_current_process.load(std::memory_order_acquire);
}

// static
std::unique_ptr<CommandLine> CommandLine::SetForCurrentProcessForTesting(
    std::unique_ptr<CommandLine> replacement) {
  return std::unique_ptr<CommandLine>(
      g_current_process.exchange(replacement.release()));
}

void CommandLine::ParseFromString(WideStringSlice command_line) {
  const std::wstring trimmed = TrimWhitespace(CutAtNul(command_line));
  if (trimmed.empty())
    return;
  int count = 0;
  const win::ScopedLocalAlloc<wchar_t*> args(
      ::CommandLineToArgvW(trimmed.c_str(), &count));
  InitFromArgv(args ? count : 0, args.Get());
}

void CommandLine::InitFromArgv(int argc, const wchar_t* const* argv) {
  StringVector copied;
  for (int i = 0; i < argc; ++i)
    copied.emplace_back(argv[i] ? argv[i] : L"");
  InitFromArgv(copied);
}

void CommandLine::InitFromArgv(const StringVector& argv) {
  argv_.assign(1, std::wstring());
  switches_.clear();
  begin_args_ = 1;
  SetProgram(argv.empty() ? FilePath() : FilePath(argv[0]));
  AppendSwitchesAndArguments(argv);
}

FilePath CommandLine::GetProgram() const {
  return FilePath(argv_[0]);
}

void CommandLine::SetProgram(const FilePath& program) {
  argv_[0] = TrimWhitespace(program.value());
}

bool CommandLine::HasSwitch(const char* name) const {
  return FindSwitch(name) != nullptr;
}

std::wstring CommandLine::GetSwitchValueNative(StringSlice name) const {
  const std::wstring* value = FindSwitch(name);
  return value ? *value : std::wstring();
}

std::string CommandLine::GetSwitchValueASCII(StringSlice name) const {
  const std::wstring value = GetSwitchValueNative(name);
  return IsStringAscii(value) ? WideToAscii(value) : std::string();
}

FilePath CommandLine::GetSwitchValuePath(StringSlice name) const {
  return FilePath(GetSwitchValueNative(name));
}

void CommandLine::AppendSwitch(StringSlice name) {
  AppendSwitchNative(name, WideStringSlice());
}

void CommandLine::AppendSwitchNative(StringSlice name, WideStringSlice value) {
  const std::string lowered = ToLowerAsciiString(name);
  const size_t prefix_length = GetSwitchPrefixLength(AsciiToWide(lowered));
  const StringSlice key = StringSlice(lowered).Substr(prefix_length);
  if (!IsValidSwitchName(key)) {
    LogDroppedSwitch(name);
    return;
  }
  // A NUL would end the child's whole command line at CreateProcessW.
  const std::wstring stored_value = CutAtNul(value);
  switches_.insert_or_assign(key.AsString(), stored_value);

  std::wstring written = prefix_length == 0 ? kSwitchTerminator : L"";
  written += AsciiToWide(lowered);
  if (!stored_value.empty()) {
    written += kSwitchValueSeparator;
    written += stored_value;
  }
  argv_.insert(argv_.begin() + begin_args_, std::move(written));
  ++begin_args_;
}

void CommandLine::AppendSwitchPath(StringSlice name, const FilePath& path) {
  AppendSwitchNative(name, path.value());
}

void CommandLine::AppendSwitchASCII(StringSlice name, StringSlice value) {
  AppendSwitchNative(name, AsciiToWide(value));
}

void CommandLine::CopySelectedSwitches(const CommandLine& source,
                                       const char* const names[],
                                       size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (source.HasSwitch(names[i]))
      AppendSwitchNative(names[i], source.GetSwitchValueNative(names[i]));
  }
}

void CommandLine::AppendArg(StringSlice value) {
  argv_.push_back(CutAtNul(Utf8ToWide(value)));
}

void CommandLine::AppendArguments(const CommandLine& other,
                                  bool include_program) {
  if (include_program)
    SetProgram(other.GetProgram());
  AppendSwitchesAndArguments(other.argv_);
}

std::wstring CommandLine::GetCommandLineString(bool quote_placeholders) const {
  std::wstring result =
      QuoteForCommandLineToArgvW(argv_[0], quote_placeholders);
  const std::wstring arguments = GetArgumentsString(quote_placeholders);
  if (!arguments.empty()) {
    result += L' ';
    result += arguments;
  }
  return result;
}

std::wstring CommandLine::GetArgumentsString(bool quote_placeholders) const {
  std::wstring result;
  std::wstring name;
  std::wstring value;
  for (size_t i = 1; i < argv_.size(); ++i) {
    if (i > 1)
      result += L' ';
    // Only the switches' own written forms (all before begin_args_) leave the
    // name unquoted: their names were checked when they were appended. A
    // plain argument that merely looks like a switch is quoted whole.
    if (i < begin_args_ && IsSwitch(argv_[i], &name, &value)) {
      result += name;
      if (!value.empty()) {
        result += kSwitchValueSeparator;
        result += QuoteForCommandLineToArgvW(value, quote_placeholders);
      }
    } else {
      result += QuoteForCommandLineToArgvW(argv_[i], quote_placeholders);
    }
  }
  return result;
}

void CommandLine::AppendSwitchesAndArguments(const StringVector& argv) {
  bool parse_switches = true;
  std::wstring name;
  std::wstring value;
  for (size_t i = 1; i < argv.size(); ++i) {
    std::wstring argument = TrimWhitespace(argv[i]);
    if (argument.empty())
      continue;
    parse_switches = parse_switches && argument != kSwitchTerminator;
    if (parse_switches && IsSwitch(argument, &name, &value)) {
      // Narrowing unit by unit would turn U+0120 into a space and so forge
      // new switches in a child: such names are dropped before that.
      if (!IsStringAscii(name)) {
        LogDroppedSwitch(WideToUtf8(name));
        continue;
      }
      AppendSwitchNative(WideToAscii(name), value);
    } else {
      argv_.push_back(std::move(argument));
    }
  }
}

const std::wstring* CommandLine::FindSwitch(StringSlice name) const {
  const auto found = switches_.find(std::string_view(name.data(), name.size()));
  return found == switches_.end() ? nullptr : &found->second;
}

size_t GetSwitchPrefixLength(WideStringSlice argument) {
  for (const wchar_t* prefix : kSwitchPrefixes) {
    const WideStringSlice wanted(prefix);
    if (argument.Substr(0, wanted.size()).Equals(wanted))
      return wanted.size();
  }
  return 0;
}

bool IsSwitch(const std::wstring& argument,
              std::wstring* name,
              std::wstring* value) {
  name->clear();
  value->clear();
  const size_t prefix_length = GetSwitchPrefixLength(argument);
  if (prefix_length == 0 || prefix_length == argument.size())
    return false;
  const size_t separator = argument.find(kSwitchValueSeparator);
  *name = argument.substr(0, separator);
  if (separator != std::wstring::npos)
    *value = argument.substr(separator + 1);
  return true;
}

std::wstring QuoteForCommandLineToArgvW(const std::wstring& argument,
                                        bool quote_placeholders) {
  // An empty argument written as nothing would vanish in the split and shift
  // every argument after it.
  const bool needs_quotes =
      argument.empty() ||
      argument.find_first_of(kQuoteTriggers) != std::wstring::npos ||
      (quote_placeholders && argument.find(L'%') != std::wstring::npos);
  if (!needs_quotes)
    return argument;

  // Backslashes are literal except in a run that reaches a quote (the
  // closing one included): there each one must be doubled.
  std::wstring quoted(1, L'"');
  for (size_t i = 0; i < argument.size(); ++i) {
    if (argument[i] == L'\\') {
      const size_t run_end = argument.find_first_not_of(L'\\', i);
      const size_t run =
          (run_end == std::wstring::npos ? argument.size() : run_end) - i;
      const bool before_quote =
          run_end == std::wstring::npos || argument[run_end] == L'"';
      quoted.append(before_quote ? 2 * run : run, L'\\');
      i += run - 1;
    } else if (argument[i] == L'"') {
      quoted += L"\\\"";
    } else {
      quoted += argument[i];
    }
  }
  quoted += L'"';
  return quoted;
}

}  // namespace base
