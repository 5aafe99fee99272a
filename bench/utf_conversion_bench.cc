// UTF-8 <-> UTF-16 conversion throughput of the base converters against the
// system's code-page functions, on ASCII-only and on mixed non-ASCII text.
// Rates are in MB of UTF-8 input (or output) per second.

#include <windows.h>

#include <cstdio>
#include <iterator>
#include <random>
#include <string>

#include "base/strings/utf_string_conversions.h"
#include "bench/bench_harness.h"

namespace {

constexpr size_t kTextBytes = 4 * 1024 * 1024;

std::string MakeAsciiText() {
  std::string text;
  const std::string line = "The quick brown fox jumps over the lazy dog 0123456789.\n";
  while (text.size() < kTextBytes)
    text += line;
  return text;
}

// About half ASCII, the rest spread over two-, three- and four-byte forms,
// like mixed-language file names and messages.
std::string MakeMixedText() {
  const char* const kWords[] = {"setup ", "Programme ", "caf\xC3\xA9 ",
                                "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 ",
                                "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E ",
                                "\xE0\xA4\xB9\xE0\xA4\xBF\xE0\xA4\x82 ",
                                "\xF0\x9F\x98\x80 ", "install.exe "};
  std::mt19937 random(5);
  std::uniform_int_distribution<size_t> pick(0, std::size(kWords) - 1);
  std::string text;
  while (text.size() < kTextBytes)
    text += kWords[pick(random)];
  return text;
}

std::wstring SystemUtf8ToWide(const std::string& utf8) {
  const int length = static_cast<int>(utf8.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  std::wstring wide(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), size);
  return wide;
}

std::string SystemWideToUtf8(const std::wstring& wide) {
  const int length = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string utf8(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), size, nullptr,
                      nullptr);
  return utf8;
}

// False when the converters disagree with the system's.
bool Run(const std::string& label, const std::string& utf8) {
  const std::wstring wide = base::Utf8ToWide(utf8);
  if (wide != SystemUtf8ToWide(utf8) || base::WideToUtf8(wide) != utf8) {
    std::printf("%s: results disagree with the system\n", label.c_str());
    return false;
  }
  const double mb = utf8.size() / 1e6;
  bench::Report(label + " utf8->utf16 base", bench::MeasureRate([&] {
                  const std::wstring out = base::Utf8ToWide(utf8);
                  bench::DoNotOptimize(out.data());
                }, mb), "MB/s");
  bench::Report(label + " utf8->utf16 MultiByteToWideChar", bench::MeasureRate([&] {
                  const std::wstring out = SystemUtf8ToWide(utf8);
                  bench::DoNotOptimize(out.data());
                }, mb), "MB/s");
  bench::Report(label + " utf16->utf8 base", bench::MeasureRate([&] {
                  const std::string out = base::WideToUtf8(wide);
                  bench::DoNotOptimize(out.data());
                }, mb), "MB/s");
  bench::Report(label + " utf16->utf8 WideCharToMultiByte", bench::MeasureRate([&] {
                  const std::string out = SystemWideToUtf8(wide);
                  bench::DoNotOptimize(out.data());
                }, mb), "MB/s");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  const bool agree = Run("ascii", MakeAsciiText());
  return agree && Run("mixed", MakeMixedText()) ? 0 : 1;
}
