// Reads JSON from stdin and writes it back, so that a test can compare the
// reader and the writer with another implementation.
//   json_tool [--pretty]  one document; its compact (or pretty) text on
//                         stdout, or "error <code> <line> <column>" and exit 1
//   json_tool --records   many documents, each "<byte count>\n<bytes>"; for
//                         each one line "ok <compact size> <pretty size>"
//                         followed by both texts, or "error <code> <line>
//                         <column>"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <string>

#include "base/json/json_parser.h"
#include "base/json/json_writer.h"
#include "base/strings/string_slice.h"

namespace {

std::string ErrorLine(const base::JsonParser& parser) {
  return "error " + std::to_string(parser.error_code()) + " " +
         std::to_string(parser.error_line()) + " " +
         std::to_string(parser.error_column()) + "\n";
}

// Appends the answer for one document to `output`; false on a parse error.
bool Answer(base::StringSlice json, std::string* output) {
  base::JsonParser parser(0);
  base::ValueOwner root = parser.Parse(json);
  if (!root) {
    *output += ErrorLine(parser);
    return false;
  }
  std::string compact;
  std::string pretty;
  base::WriteJson(*root, &compact);
  base::WriteJsonWithOptions(*root, base::kJsonWritePrettyPrint, &pretty);
  *output += "ok " + std::to_string(compact.size()) + " " +
             std::to_string(pretty.size()) + "\n" + compact + pretty;
  return true;
}

bool AnswerRecords(const std::string& input, std::string* output) {
  size_t position = 0;
  while (position < input.size()) {
    const size_t line_end = input.find('\n', position);
    if (line_end == std::string::npos)
      return false;
    const size_t size = std::strtoull(input.c_str() + position, nullptr, 10);
    position = line_end + 1;
    if (size > input.size() - position)
      return false;
    Answer(base::StringSlice(input.data() + position, size), output);
    position += size;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Text mode would turn "\n" into "\r\n" and eat "\r" from the input.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  std::ios::sync_with_stdio(false);
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string input((std::istreambuf_iterator<char>(std::cin)),
                          std::istreambuf_iterator<char>());
  std::string output;
  int exit_code = 0;
  if (mode == "--records") {
    exit_code = AnswerRecords(input, &output) ? 0 : 2;
  } else {
    base::JsonParser parser(0);
    base::ValueOwner root = parser.Parse(input);
    if (root) {
      base::WriteJsonWithOptions(
          *root, mode == "--pretty" ? base::kJsonWritePrettyPrint : 0, &output);
    } else {
      output = ErrorLine(parser);
      exit_code = 1;
    }
  }
  std::fwrite(output.data(), 1, output.size(), stdout);
  return exit_code;
}
