#ifndef BASE_CPU_INFO_H_
#define BASE_CPU_INFO_H_

#include <cstdint>
#include <string>

namespace base {

// The processor as cpuid describes it, read once on construction. Build one
// where it is needed; nothing is cached.
class CpuInfo {
 public:
  CpuInfo();

  int32_t signature() const { return signature_; }
  int32_t type() const { return type_; }
  int32_t family() const { return family_; }
  // The low model nibble with the extended model as its high nibble.
  int32_t model() const { return model_; }
  int32_t stepping() const { return stepping_; }
  int32_t ext_model() const { return ext_model_; }
  int32_t ext_family() const { return ext_family_; }
  bool has_mmx() const { return has_mmx_; }
  bool has_sse() const { return has_sse_; }
  bool has_sse2() const { return has_sse2_; }
  bool has_sse3() const { return has_sse3_; }
  bool has_ssse3() const { return has_ssse3_; }
  bool has_sse41() const { return has_sse41_; }
  bool has_sse42() const { return has_sse42_; }
  bool has_popcnt() const { return has_popcnt_; }
  // Also requires the operating system to save the AVX registers.
  bool has_avx() const { return has_avx_; }
  bool has_avx2() const { return has_avx2_; }
  bool has_aesni() const { return has_aesni_; }
  bool has_invariant_tsc() const { return has_invariant_tsc_; }
  // 12 characters, "unknown" until identified.
  const std::string& vendor() const { return vendor_; }
  // The 48 bytes as the processor gives them, NUL padding included; empty
  // when the brand leaves are missing.
  const std::string& brand() const { return brand_; }

 private:
  void Identify();
  void ReadStandardLeaves(uint32_t max_leaf);
  void ReadExtendedLeaves();

  int32_t signature_ = 0;
  int32_t type_ = 0;
  int32_t family_ = 0;
  int32_t model_ = 0;
  int32_t stepping_ = 0;
  int32_t ext_model_ = 0;
  int32_t ext_family_ = 0;
  bool has_mmx_ = false;
  bool has_sse_ = false;
  bool has_sse2_ = false;
  bool has_sse3_ = false;
  bool has_ssse3_ = false;
  bool has_sse41_ = false;
  bool has_sse42_ = false;
  bool has_popcnt_ = false;
  bool has_avx_ = false;
  bool has_avx2_ = false;
  bool has_aesni_ = false;
  bool has_invariant_tsc_ = false;
  std::string vendor_ = "unknown";
  std::string brand_;
};

}  // namespace base

#endif  // BASE_CPU_INFO_H_
