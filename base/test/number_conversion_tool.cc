// Answers number-conversion requests read from stdin, one per line, so that a
// test can check a large sample against another implementation in a single
// process. Each request is "<command> <text>"; each answer is one line:
//   parse <text>            -> <1|0> <bits of the double, 16 hex digits>
//   format <16 hex digits>  -> the shortest text of the double with those bits
//   int32|int64|uint32|uint64|wuint32|wint64|hex64 <text> -> <1|0> <value>
//   hexbytes <text>         -> <1|0> <the appended bytes, hex encoded>

#include <fcntl.h>
#include <io.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "base/strings/double_conversion.h"
#include "base/strings/string_number_conversions.h"

namespace {

std::string Answer(bool ok, const std::string& value) {
  return (ok ? "1 " : "0 ") + value;
}

std::string ParseDouble(const std::string& text) {
  double value = 0;
  const bool ok = base::StringToDouble(text, &value);
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  // Big-endian byte order gives the bits as one hex number.
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i)
    bytes[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  return Answer(ok, base::HexEncode(bytes, sizeof(bytes)));
}

std::string FormatDouble(const std::string& hex_bits) {
  uint64_t bits = 0;
  if (!base::HexStringToUInt64(hex_bits, &bits))
    return "bad request";
  char buffer[base::kFormatDoubleShortestBufferSize];
  return base::FormatDoubleShortest(buffer, std::bit_cast<double>(bits));
}

std::wstring Widen(const std::string& text) {
  // Requests are ASCII; each byte becomes one code unit.
  return std::wstring(text.begin(), text.end());
}

// Each parser's answer with the value it left, written by our own writers.
template <typename Int, typename Parse, typename Write>
std::string Integer(Parse parse, Write write) {
  Int value = 0;
  const bool ok = parse(&value);
  return Answer(ok, write(value));
}

std::string ParseInteger(const std::string& command, const std::string& text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  auto write64 = [](int64_t value) { return base::Int64ToString(value); };
  auto write_u64 = [](uint64_t value) { return base::Uint64ToString(value); };
  if (command == "int32") {
    return Integer<int32_t>(
        [&](int32_t* v) { return base::StringToInt(text, v); },
        [](int32_t value) { return base::IntToString(value); });
  }
  if (command == "int64")
    return Integer<int64_t>(
        [&](int64_t* v) { return base::StringToInt64Impl(begin, end, v); },
        write64);
  if (command == "uint32")
    return Integer<uint32_t>(
        [&](uint32_t* v) { return base::StringToUintImpl(begin, end, v); },
        write_u64);
  if (command == "uint64")
    return Integer<uint64_t>(
        [&](uint64_t* v) { return base::StringToUint64(text, v); }, write_u64);
  if (command == "wuint32")
    return Integer<uint32_t>(
        [&](uint32_t* v) { return base::WideStringToUint(Widen(text), v); },
        write_u64);
  if (command == "wint64")
    return Integer<int64_t>(
        [&](int64_t* v) { return base::WideStringToInt64(Widen(text), v); },
        write64);
  if (command == "hex64")
    return Integer<uint64_t>(
        [&](uint64_t* v) { return base::HexStringToUInt64(text, v); },
        write_u64);
  return "bad request";
}

std::string HexBytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  const bool ok = base::HexStringToBytes(text, &bytes);
  return Answer(ok, base::HexEncode(bytes.data(), bytes.size()));
}

std::string Handle(const std::string& line) {
  const size_t space = line.find(' ');
  if (space == std::string::npos)
    return "bad request";
  const std::string command = line.substr(0, space);
  const std::string text = line.substr(space + 1);
  if (command == "parse")
    return ParseDouble(text);
  if (command == "format")
    return FormatDouble(text);
  if (command == "hexbytes")
    return HexBytes(text);
  return ParseInteger(command, text);
}

}  // namespace

int main() {
  // Text mode would turn "\n" into "\r\n" and eat "\r" from requests.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  std::ios::sync_with_stdio(false);
  std::string line;
  std::string output;
  while (std::getline(std::cin, line)) {
    output += Handle(line);
    output += '\n';
  }
  std::fwrite(output.data(), 1, output.size(), stdout);
  return 0;
}
