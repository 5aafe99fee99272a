#ifndef BASE_TEST_CHILD_OUTPUT_H_
#define BASE_TEST_CHILD_OUTPUT_H_

#include <string>
#include <vector>

namespace base {

// Test-only: runs `application` with the exact `command_line` text (its first
// element is the quoted program, as CreateProcessW expects), collects what the
// child writes to its standard output and error, and waits for it. True when
// the child ran and exited with code 0.
bool RunChildAndReadOutput(const std::wstring& application, std::wstring command_line,
                           std::string* output);

// The lines of a child's output, without their "\r\n" or "\n" endings.
std::vector<std::string> SplitOutputLines(const std::string& output);

}  // namespace base

#endif  // BASE_TEST_CHILD_OUTPUT_H_
