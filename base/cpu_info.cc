#include "base/cpu_info.h"

#include <cpuid.h>

#include <cstring>
#include <initializer_list>

namespace base {
namespace {

struct Registers {
  uint32_t eax = 0;
  uint32_t ebx = 0;
  uint32_t ecx = 0;
  uint32_t edx = 0;
};

Registers Cpuid(uint32_t leaf, uint32_t subleaf = 0) {
  Registers r;
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
  return r;
}

// Extended control register 0: which register states the OS saves.
uint64_t ReadXcr0() {
  uint32_t low = 0;
  uint32_t high = 0;
  asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return uint64_t{high} << 32 | low;
}

bool Bit(uint32_t value, int bit) {
  return (value >> bit) & 1;
}

std::string RegistersText(std::initializer_list<uint32_t> registers) {
  std::string text;
  for (uint32_t value : registers) {
    char bytes[4];
    std::memcpy(bytes, &value, sizeof(bytes));
    text.append(bytes, sizeof(bytes));
  }
  return text;
}

}  // namespace

CpuInfo::CpuInfo() {
  Identify();
}

void CpuInfo::Identify() {
  const Registers leaf0 = Cpuid(0);
  vendor_ = RegistersText({leaf0.ebx, leaf0.edx, leaf0.ecx});
  if (static_cast<int32_t>(leaf0.eax) > 0)
    ReadStandardLeaves(leaf0.eax);
  ReadExtendedLeaves();
}

void CpuInfo::ReadStandardLeaves(uint32_t max_leaf) {
  const Registers leaf1 = Cpuid(1);
  signature_ = static_cast<int32_t>(leaf1.eax);
  type_ = (signature_ >> 12) & 0x3;
  family_ = (signature_ >> 8) & 0xf;
  ext_model_ = (signature_ >> 16) & 0xf;
  ext_family_ = (signature_ >> 20) & 0xff;
  model_ = ((signature_ >> 4) & 0xf) | (ext_model_ << 4);
  stepping_ = signature_ & 0xf;

  has_mmx_ = Bit(leaf1.edx, 23);
  has_sse_ = Bit(leaf1.edx, 25);
  has_sse2_ = Bit(leaf1.edx, 26);
  has_sse3_ = Bit(leaf1.ecx, 0);
  has_ssse3_ = Bit(leaf1.ecx, 9);
  has_sse41_ = Bit(leaf1.ecx, 19);
  has_sse42_ = Bit(leaf1.ecx, 20);
  has_popcnt_ = Bit(leaf1.ecx, 23);
  has_aesni_ = Bit(leaf1.ecx, 25);
  // xgetbv faults unless the OS enabled it (OSXSAVE), so ask only then.
  const bool avx_hardware =
      Bit(leaf1.ecx, 26) && Bit(leaf1.ecx, 27) && Bit(leaf1.ecx, 28);
  has_avx_ = avx_hardware && (ReadXcr0() & 0x6) == 0x6;
  if (max_leaf >= 7)
    has_avx2_ = has_avx_ && Bit(Cpuid(7, 0).ebx, 5);
}

void CpuInfo::ReadExtendedLeaves() {
  // The extended leaves all have the top bit set, so the maximum must be
  // compared unsigned.
  const uint32_t max_extended = Cpuid(0x80000000).eax;
  if (max_extended >= 0x80000004) {
    brand_.clear();
    for (uint32_t leaf = 0x80000002; leaf <= 0x80000004; ++leaf) {
      const Registers r = Cpuid(leaf);
      brand_ += RegistersText({r.eax, r.ebx, r.ecx, r.edx});
    }
  }
  if (max_extended >= 0x80000007)
    has_invariant_tsc_ = Bit(Cpuid(0x80000007).edx, 8);
}

}  // namespace base
