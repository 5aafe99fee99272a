#include "base/cpu_info.h"

#include <windows.h>

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

std::wstring ProcessorValue(const wchar_t* name) {
  wchar_t value[256] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_LOCAL_MACHINE,
                   L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", name,
                   RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return L"";
  }
  return value;
}

std::wstring Widen(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

std::wstring Trimmed(const std::wstring& text) {
  const wchar_t kPadding[] = {L' ', L'\0'};
  const std::wstring padding(kPadding, 2);
  const size_t first = text.find_first_not_of(padding);
  if (first == std::wstring::npos)
    return L"";
  return text.substr(first, text.find_last_not_of(padding) - first + 1);
}

TEST(CpuInfoTest, FeaturesAgreeWithTheSystem) {
  const CpuInfo cpu;
  EXPECT_EQ(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != 0,
            cpu.has_sse2());
  EXPECT_EQ(IsProcessorFeaturePresent(PF_SSE3_INSTRUCTIONS_AVAILABLE) != 0,
            cpu.has_sse3());
  EXPECT_EQ(IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE) != 0,
            cpu.has_sse());
  // Every x86-64 processor has them.
  EXPECT_TRUE(cpu.has_sse2());
  EXPECT_TRUE(cpu.has_mmx());
  EXPECT_TRUE(!cpu.has_avx2() || cpu.has_avx());
}

TEST(CpuInfoTest, IdentityAgreesWithTheSystem) {
  const CpuInfo cpu;
  ASSERT_EQ(12u, cpu.vendor().size());
  for (char c : cpu.vendor())
    EXPECT_TRUE(c >= 0x20 && c < 0x7f) << cpu.vendor();
  EXPECT_EQ(ProcessorValue(L"VendorIdentifier"), Widen(cpu.vendor()));

  // The system shows the family and model the way vendors document them:
  // the extended family counts only on family 15, the extended model only
  // on families 6 and 15.
  const int family = cpu.family() + (cpu.family() == 15 ? cpu.ext_family() : 0);
  const int model = (cpu.family() == 6 || cpu.family() == 15)
                        ? cpu.model()
                        : cpu.model() & 0xf;
  const std::wstring identifier = ProcessorValue(L"Identifier");
  EXPECT_NE(std::wstring::npos,
            identifier.find(L"Family " + std::to_wstring(family) + L" Model " +
                            std::to_wstring(model) + L" Stepping " +
                            std::to_wstring(cpu.stepping())))
      << identifier;

  // The brand is taken whole, padding included; the system shows it trimmed.
  ASSERT_EQ(48u, cpu.brand().size());
  EXPECT_EQ(Trimmed(ProcessorValue(L"ProcessorNameString")),
            Trimmed(Widen(cpu.brand())));
}

}  // namespace
}  // namespace base
