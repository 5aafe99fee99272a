#ifndef BASE_LOCATION_H_
#define BASE_LOCATION_H_

namespace base {

// Where a task was posted or a log line written. The strings are literals of
// the site and are never copied, so they must have static lifetime.
class SourceLocation {
 public:
  constexpr SourceLocation() = default;
  constexpr SourceLocation(const char* function_name, const char* file_name, int line,
                           const void* program_counter)
      : function_name_(function_name),
        file_name_(file_name),
        line_(line),
        program_counter_(program_counter) {}

  const char* function_name() const { return function_name_; }
  const char* file_name() const { return file_name_; }
  int line() const { return line_; }
  const void* program_counter() const { return program_counter_; }

 private:
  const char* function_name_ = "";
  const char* file_name_ = "";
  int line_ = 0;
  const void* program_counter_ = nullptr;
};

// The return address of the function that calls it: the posting site's
// program counter, which a crash dump can symbolise.
const void* GetProgramCounter();

}  // namespace base

#define FROM_HERE                                                        \
  ::base::SourceLocation(__func__, __FILE__, __LINE__,                   \
                         ::base::GetProgramCounter())

#endif  // BASE_LOCATION_H_
