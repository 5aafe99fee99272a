#include "base/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/child_output.h"
#include "base/win/scoped_local_alloc.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using StringVector = CommandLine::StringVector;

// The platform's own splitter: what a child process sees of a command line.
StringVector SplitWithCommandLineToArgvW(const std::wstring& text) {
  int count = 0;
  const win::ScopedLocalAlloc<wchar_t*> split(
      ::CommandLineToArgvW(text.c_str(), &count));
  StringVector result;
  if (!split)
    return result;
  for (int i = 0; i < count; ++i)
    result.emplace_back(split.Get()[i]);
  return result;
}

// For a parsed command line: switches come first, and the first element
// that is not switch-like (or is "--") starts the plain arguments.
StringVector PlainArguments(const CommandLine& command_line) {
  const StringVector& argv = command_line.argv();
  size_t first = 1;
  std::wstring name, value;
  while (first < argv.size() && argv[first] != L"--" &&
         IsSwitch(argv[first], &name, &value)) {
    ++first;
  }
  return StringVector(argv.begin() + first, argv.end());
}

TEST(CommandLineParse, SwitchesPrecedeArgumentsAndNamesAreLowered) {
  CommandLine command_line(CommandLine::NO_PROGRAM);
  command_line.ParseFromString(L"prog.exe --Foo=Bar /x -y=1 plain -z");
  const CommandLine::SwitchMap expected = {
      {"foo", L"Bar"}, {"x", L""}, {"y", L"1"}, {"z", L""}};
  EXPECT_EQ(expected, command_line.GetSwitches());
  const StringVector argv = {L"prog.exe", L"--foo=Bar", L"/x",
                             L"-y=1",     L"-z",        L"plain"};
  EXPECT_EQ(argv, command_line.argv());
  EXPECT_EQ(L"prog.exe", command_line.GetProgram().value());
  EXPECT_TRUE(command_line.HasSwitch("foo"));
  EXPECT_FALSE(command_line.HasSwitch("Foo"));
  EXPECT_FALSE(command_line.HasSwitch(nullptr));
  EXPECT_EQ("Bar", command_line.GetSwitchValueASCII("foo"));
  EXPECT_EQ(L"", command_line.GetSwitchValueNative("absent"));
}

TEST(CommandLineParse, Cases) {
  const struct {
    const wchar_t* text;
    CommandLine::SwitchMap switches;
    StringVector plain;
  } kCases[] = {
      {L"p a -- --b c", {}, {L"a", L"--", L"--b", L"c"}},
      {L"p --a -- --b", {{"a", L""}}, {L"--", L"--b"}},
      {L"p \"  \" \"\" - / x", {}, {L"-", L"/", L"x"}},
      {L"p --e= --a=b=c", {{"e", L""}, {"a", L"b=c"}}, {}},
      {L"p \" --spaced=v \" \"  arg  \"", {{"spaced", L"v"}}, {L"arg"}},
      {L"p --dup=1 x --dup=2", {{"dup", L"2"}}, {L"x"}},
      {L"p --path=\"C:\\a b\\\\\"", {{"path", L"C:\\a b\\"}}, {}},
      {L"  \t ", {}, {}},
  };
  for (const auto& c : kCases) {
    CommandLine command_line(CommandLine::NO_PROGRAM);
    command_line.ParseFromString(c.text);
    EXPECT_EQ(c.switches, command_line.GetSwitches()) << c.text;
    EXPECT_EQ(c.plain, PlainArguments(command_line)) << c.text;
  }
}

TEST(CommandLineParse, BlankTextKeepsWhatWasThere) {
  CommandLine command_line(FilePath(L"prog.exe"));
  command_line.AppendSwitch("kept");
  command_line.ParseFromString(L" \u3000\t");
  EXPECT_TRUE(command_line.HasSwitch("kept"));
  EXPECT_EQ(L"prog.exe", command_line.GetProgram().value());
}

TEST(CommandLineQuery, NonAsciiValueIsEmptyAsAscii) {
  CommandLine command_line(CommandLine::NO_PROGRAM);
  command_line.AppendSwitchNative("lang", L"fran\u00e7ais");
  EXPECT_EQ("", command_line.GetSwitchValueASCII("lang"));
  EXPECT_EQ(L"fran\u00e7ais", command_line.GetSwitchValueNative("lang"));
  command_line.AppendSwitchPath("dir", FilePath(LR"(C:\x y)"));
  EXPECT_EQ(FilePath(LR"(C:\x y)"), command_line.GetSwitchValuePath("dir"));
}

TEST(CommandLineQuote, Table) {
  const struct {
    const wchar_t* argument;
    bool quote_placeholders;
    const wchar_t* quoted;
  } kCases[] = {
      {L"plain", false, L"plain"},
      {L"", false, L"\"\""},
      {LR"(C:\a b\)", false, LR"("C:\a b\\")"},
      {LR"(C:\a\b)", false, LR"("C:\a\b")"},
      {LR"(say "hi")", false, LR"("say \"hi\"")"},
      {LR"(a\\"b)", false, LR"("a\\\\\"b")"},
      {L"50%", false, L"50%"},
      {L"50%", true, L"\"50%\""},
      {L"a\tb", false, L"\"a\tb\""},
      {L"a\nb", false, L"\"a\nb\""},
      {L"\u00e9t\u00e9", false, L"\u00e9t\u00e9"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.quoted,
              QuoteForCommandLineToArgvW(c.argument, c.quote_placeholders))
        << c.argument;
  }
}

TEST(CommandLineBuild, AppendedSwitchesRender) {
  CommandLine command_line(FilePath(LR"(C:\Program Files\p.exe)"));
  command_line.AppendArg("arg one");
  command_line.AppendSwitchASCII("Some-Switch", "v");
  command_line.AppendSwitch("flag");
  command_line.AppendSwitchNative("dup", L"1");
  command_line.AppendSwitchNative("/dup", L"two words");
  command_line.AppendSwitchNative("empty", L"");
  EXPECT_TRUE(command_line.HasSwitch("some-switch"));
  EXPECT_EQ(L"two words", command_line.GetSwitchValueNative("dup"));
  EXPECT_EQ(
      LR"("C:\Program Files\p.exe" --some-switch=v --flag --dup=1 /dup="two words" --empty "arg one")",
      command_line.GetCommandLineString());
  EXPECT_EQ(
      LR"(--some-switch=v --flag --dup=1 /dup="two words" --empty "arg one")",
      command_line.GetArgumentsString());
  EXPECT_EQ(L"", CommandLine(CommandLine::NO_PROGRAM).GetArgumentsString());
}

TEST(CommandLineBuild, CopySelectedSwitchesAndAppendArguments) {
  CommandLine source(CommandLine::NO_PROGRAM);
  source.ParseFromString(L"src.exe --a=1 --b --c=3 arg");
  const char* const kNames[] = {"c", "missing", "a"};
  CommandLine copy(FilePath(L"dst.exe"));
  copy.CopySelectedSwitches(source, kNames, 3);
  copy.CopySelectedSwitches(source, kNames, 0);
  EXPECT_EQ(L"dst.exe --c=3 --a=1", copy.GetCommandLineString());

  CommandLine combined(FilePath(L"dst.exe"));
  combined.AppendArg("first");
  combined.AppendArguments(source, false);
  EXPECT_EQ(L"dst.exe --a=1 --b --c=3 first arg",
            combined.GetCommandLineString());
  combined.AppendArguments(source, true);
  EXPECT_EQ(L"src.exe", combined.GetProgram().value());

  const CommandLine assigned = combined;
  EXPECT_EQ(combined.GetCommandLineString(), assigned.GetCommandLineString());
  EXPECT_EQ(L"3", assigned.GetSwitchValueNative("c"));
}

std::vector<std::string>* g_logged = nullptr;

bool CollectLogLine(LogSeverity,
                    const char*,
                    int,
                    size_t,
                    const std::string& text) {
  if (g_logged)
    g_logged->push_back(text);
  return true;
}

// Collects the log lines written while it lives instead of logging them.
class LogCapture {
 public:
  explicit LogCapture(std::vector<std::string>* lines)
      : previous_(GetLogMessageHandler()) {
    g_logged = lines;
    SetLogMessageHandler(CollectLogLine);
  }
  ~LogCapture() {
    SetLogMessageHandler(previous_);
    g_logged = nullptr;
  }

 private:
  const LogMessageHandlerFunction previous_;
};

// A name that would need quoting (or narrowing) could become other switches
// in the child that receives the rendered command line, so it never gets in.
TEST(CommandLineSafety, UnsafeSwitchNamesAreDroppedAndLogged) {
  const std::string kUnsafe[] = {
      "a b",
      "a\tb",
      "x=y",
      "q\"uote",
      "back\\slash",
      "a/b",
      "",
      "--",
      "-",
      "/",
      "a\nb",
      "pipe|",
      "\xc3\xa9t\xc3\xa9",
      std::string("nul\0x", 5),
      "--x y=1",
      "amp&",
  };
  std::vector<std::string> logged;
  LogCapture capture(&logged);
  for (const std::string& name : kUnsafe) {
    CommandLine command_line(FilePath(L"p.exe"));
    command_line.AppendSwitchNative(name, L"v");
    command_line.AppendSwitchASCII(name, "v");
    command_line.AppendSwitch(name);
    EXPECT_TRUE(command_line.GetSwitches().empty()) << name;
    EXPECT_EQ(L"p.exe", command_line.GetCommandLineString()) << name;
  }
  ASSERT_EQ(3 * std::size(kUnsafe), logged.size());
  EXPECT_NE(std::string::npos, logged[0].find("unsafe name: \"a b\""));
  EXPECT_NE(std::string::npos, logged[30].find("\"a?b\""));  // "a\nb"

  const char* const kSafe[][2] = {
      {"Some-Switch", "some-switch"},
      {"with-feature:x.y_z", "with-feature:x.y_z"},
      {"?", "?"},
      {"--A", "a"},
      {"/b", "b"},
      {"-c9", "c9"},
  };
  for (const auto& safe : kSafe) {
    CommandLine command_line(CommandLine::NO_PROGRAM);
    command_line.AppendSwitch(safe[0]);
    EXPECT_TRUE(command_line.HasSwitch(safe[1])) << safe[0];
  }
}

TEST(CommandLineSafety, ParsedNamesAreNotNarrowedIntoNewSwitches) {
  // U+0120 narrows to a space and U+012D to '-': byte-wise narrowing would
  // turn these into "--a --evil=1" and "/x-y" in a rendered child line.
  std::vector<std::string> logged;
  LogCapture capture(&logged);
  CommandLine command_line(CommandLine::NO_PROGRAM);
  command_line.ParseFromString(
      L"prog --a\u0120--evil=1 --ok=1 /x\u012dy \"--sp ace=1\" \"--q\\\"=1\" "
      L"arg");
  const CommandLine::SwitchMap expected = {{"ok", L"1"}};
  EXPECT_EQ(expected, command_line.GetSwitches());
  EXPECT_EQ(L"--ok=1 arg", command_line.GetArgumentsString());
  EXPECT_EQ(4u, logged.size());
}

TEST(CommandLineSafety, SwitchLikePlainArgumentStaysOneArgument) {
  CommandLine command_line(FilePath(L"p.exe"));
  command_line.AppendArg("--x y");
  command_line.AppendArg("/a b=\"c\"");
  command_line.AppendArg("--plain");
  const StringVector expected = {L"p.exe", L"--x y", L"/a b=\"c\"", L"--plain"};
  EXPECT_EQ(expected,
            SplitWithCommandLineToArgvW(command_line.GetCommandLineString()));
}

TEST(CommandLineSafety, NulInValueDoesNotCutTheChildLine) {
  CommandLine command_line(FilePath(L"p.exe"));
  command_line.AppendSwitchNative("a", std::wstring(L"1\0--evil", 8));
  command_line.AppendSwitch("b");
  EXPECT_EQ(L"p.exe --a=1 --b", command_line.GetCommandLineString());
}

TEST(CommandLineProcess, InitParsesOwnCommandLineOnce) {
  std::unique_ptr<CommandLine> saved =
      CommandLine::SetForCurrentProcessForTesting(nullptr);
  EXPECT_EQ(nullptr, CommandLine::ForCurrentProcess());
  ASSERT_TRUE(CommandLine::Init());
  CommandLine* current = CommandLine::ForCurrentProcess();
  ASSERT_NE(nullptr, current);
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(FilePath(L"base_unittests.exe"),
                                           current->GetProgram().BaseName()));
  // Every "--gtest_..." flag the runner was started with must be a switch.
  for (const std::wstring& argument :
       SplitWithCommandLineToArgvW(::GetCommandLineW())) {
    if (argument.rfind(L"--gtest_", 0) != 0)
      continue;
    const size_t separator = argument.find(L'=');
    const std::string name = WideToUtf8(argument.substr(2, separator - 2));
    EXPECT_TRUE(current->HasSwitch(name.c_str())) << name;
    if (separator != std::wstring::npos) {
      EXPECT_EQ(argument.substr(separator + 1),
                current->GetSwitchValueNative(name));
    }
  }
  EXPECT_FALSE(CommandLine::Init());
  EXPECT_EQ(current, CommandLine::ForCurrentProcess());
  CommandLine::SetForCurrentProcessForTesting(std::move(saved));
}

// Random material for round trips: empty texts, blanks, quotes and backslash
// runs (often at the end, where they meet the closing quote) in every mix.
class ArgumentGenerator {
 public:
  explicit ArgumentGenerator(uint32_t seed) : random_(seed) {}

  std::wstring Next(const std::wstring& alphabet, size_t max_length) {
    std::wstring text;
    const size_t length = Below(max_length + 1);
    for (size_t i = 0; i < length; ++i)
      text += alphabet[Below(alphabet.size())];
    if (Below(3) == 0)
      text.append(1 + Below(3), L'\\');
    return text;
  }
  size_t Below(size_t bound) {
    return std::uniform_int_distribution<size_t>(0, bound - 1)(random_);
  }

 private:
  std::mt19937 random_;
};

const std::wstring kValueAlphabet = L"ab \t\"\\%=-/\u00e9\u4e2d";
// No '-' or '/': a plain argument that looked like a switch would reparse as
// one, which is how the format is meant to work.
const std::wstring kArgumentAlphabet = L"xy \t\"\\%\u00e9";
const char* const kNames[] = {"alpha", "beta", "with-feature:x", "n.1", "u_v"};

struct Expected {
  CommandLine::SwitchMap switches;
  StringVector plain;
};

// Builds a random command line and what a reparse of it must give: the parse
// trims blanks from each whole element, so a value loses its trailing ones
// and a blank argument disappears.
CommandLine RandomCommandLine(ArgumentGenerator* generator,
                              const FilePath& program,
                              Expected* expected) {
  CommandLine command_line(program);
  for (size_t n = generator->Below(5); n > 0; --n) {
    const char* name = kNames[generator->Below(std::size(kNames))];
    const std::wstring value =
        generator->Below(4) == 0 ? L"" : generator->Next(kValueAlphabet, 8);
    command_line.AppendSwitchNative(name, value);
    std::wstring trimmed = value;
    trimmed.erase(trimmed.find_last_not_of(L" \t") + 1);
    expected->switches[name] = trimmed;
  }
  for (size_t n = generator->Below(4); n > 0; --n) {
    const std::wstring argument = generator->Next(kArgumentAlphabet, 8);
    command_line.AppendArg(WideToUtf8(argument));
    std::wstring trimmed;
    TrimWideString(argument, UnicodeWhitespace, &trimmed);
    if (!trimmed.empty())
      expected->plain.push_back(trimmed);
  }
  return command_line;
}

TEST(CommandLineRoundTrip, QuotedArgumentsSurviveCommandLineToArgvW) {
  ArgumentGenerator generator(20240611);
  for (int i = 0; i < 1000; ++i) {
    StringVector arguments = {L"p.exe"};
    std::wstring text = L"p.exe";
    const bool quote_placeholders = generator.Below(2) == 0;
    for (size_t n = 1 + generator.Below(6); n > 0; --n) {
      arguments.push_back(generator.Next(kValueAlphabet, 10));
      text += L' ';
      text += QuoteForCommandLineToArgvW(arguments.back(), quote_placeholders);
    }
    ASSERT_EQ(arguments, SplitWithCommandLineToArgvW(text)) << text;
  }
}

TEST(CommandLineRoundTrip, RenderedCommandLineReparsesUnchanged) {
  ArgumentGenerator generator(7);
  for (int i = 0; i < 1000; ++i) {
    Expected expected;
    const CommandLine original = RandomCommandLine(
        &generator, FilePath(LR"(C:\Program Files\p.exe)"), &expected);
    const std::wstring text = original.GetCommandLineString(i % 2 == 0);
    CommandLine reparsed(CommandLine::NO_PROGRAM);
    reparsed.ParseFromString(text);
    ASSERT_EQ(expected.switches, reparsed.GetSwitches()) << text;
    ASSERT_EQ(expected.plain, PlainArguments(reparsed)) << text;
    ASSERT_EQ(original.GetProgram(), reparsed.GetProgram());
  }
}

// The child peer: argv_echo prints how its own command line was split.
struct ChildSplit {
  StringVector by_shell;  // CommandLineToArgvW(GetCommandLineW())
  StringVector by_crt;
};

std::wstring DecodeHex(const std::string& hex) {
  std::wstring text;
  for (size_t i = 0; i + 4 <= hex.size(); i += 4)
    text += static_cast<wchar_t>(std::stoul(hex.substr(i, 4), nullptr, 16));
  return text;
}

bool RunArgvEcho(const CommandLine& command_line, ChildSplit* split) {
  std::string output;
  const bool ran = RunChildAndReadOutput(command_line.GetProgram().value(),
                                         command_line.GetCommandLineString(), &output);
  for (const std::string& line : SplitOutputLines(output)) {
    if (line.size() >= 2) {
      (line[0] == 's' ? split->by_shell : split->by_crt)
          .push_back(DecodeHex(line.substr(2)));
    }
  }
  return ran;
}

// argv_echo copied into a folder and under a name with spaces, so that the
// quoted program takes part too. The folder is this process's own: another
// test run in the same prefix must not delete the copy under it.
FilePath PrepareArgvEcho() {
  wchar_t module[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  const FilePath built = FilePath(WideStringSlice(module, length))
                             .DirName()
                             .Append(L"argv_echo.exe");
  wchar_t temp[MAX_PATH];
  const DWORD temp_length = ::GetTempPathW(MAX_PATH, temp);
  const FilePath folder =
      FilePath(WideStringSlice(temp, temp_length))
          .Append(L"tarvo argv echo " +
                  std::to_wstring(::GetCurrentProcessId()));
  ::CreateDirectoryW(folder.value().c_str(), nullptr);
  const FilePath copy = folder.Append(L"argv echo.exe");
  if (!::CopyFileW(built.value().c_str(), copy.value().c_str(), FALSE))
    return FilePath();
  return copy;
}

TEST(CommandLineRoundTrip, ChildProcessSeesTheSameArguments) {
  const FilePath program = PrepareArgvEcho();
  ASSERT_FALSE(program.empty())
      << "argv_echo.exe must be built beside the tests";

  std::vector<CommandLine> command_lines;
  std::vector<Expected> expectations(40);
  ArgumentGenerator generator(99);
  for (Expected& expected : expectations)
    command_lines.push_back(RandomCommandLine(&generator, program, &expected));
  CommandLine fixed(program);
  fixed.AppendSwitchNative("path", LR"(C:\Program Files\Tarvo\)");
  fixed.AppendSwitchNative("tab", L"a\tb");
  fixed.AppendSwitchNative("quote", LR"(say "hi" \")");
  fixed.AppendSwitchNative("percent", L"%TEMP%");
  fixed.AppendArg("--x y");
  fixed.AppendArg("\xc3\xa9t\xc3\xa9 \xe4\xb8\xad");
  command_lines.push_back(fixed);
  // Empty arguments first, in the middle and last: none may vanish and shift
  // the ones after it.
  CommandLine empties(program);
  empties.AppendSwitch("flag");
  for (const char* argument : {"", "a b", "", "", "c", ""})
    empties.AppendArg(argument);
  command_lines.push_back(empties);

  for (size_t i = 0; i < command_lines.size(); ++i) {
    const CommandLine& command_line = command_lines[i];
    ChildSplit split;
    ASSERT_TRUE(RunArgvEcho(command_line, &split))
        << command_line.GetCommandLineString();
    StringVector argv = command_line.argv();
    // Nothing vanishes on the way, empty arguments included.
    EXPECT_EQ(argv, split.by_shell) << command_line.GetCommandLineString();
    EXPECT_EQ(argv, split.by_crt) << command_line.GetCommandLineString();
    if (i < expectations.size()) {
      CommandLine reparsed(CommandLine::NO_PROGRAM);
      reparsed.InitFromArgv(split.by_shell);
      EXPECT_EQ(expectations[i].switches, reparsed.GetSwitches());
      EXPECT_EQ(expectations[i].plain, PlainArguments(reparsed));
    }
  }
  ::DeleteFileW(program.value().c_str());
  ::RemoveDirectoryW(program.DirName().value().c_str());
}

}  // namespace
}  // namespace base
