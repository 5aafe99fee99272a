#ifndef BASE_VERSION_H_
#define BASE_VERSION_H_

#include <cstdint>
#include <string>
#include <vector>

namespace base {

// A dotted version such as "1.2.3" as unsigned 32-bit components. A text
// that breaks any rule gives an invalid version with no components.
class Version {
 public:
  explicit Version(const std::string& text);
  ~Version();

  bool IsValid() const;

  // -1, 0 or 1. Missing components count as zero ("1.0" equals "1.0.0"); an
  // invalid version compares like an all-zero one.
  int CompareTo(const Version& other) const;

  const std::vector<uint32_t>& components() const { return components_; }

 private:
  static bool ParseComponents(const std::string& text,
                              std::vector<uint32_t>* components);
  static int CompareComponents(const std::vector<uint32_t>& a,
                               const std::vector<uint32_t>& b);

  std::vector<uint32_t> components_;
};

}  // namespace base

#endif  // BASE_VERSION_H_
