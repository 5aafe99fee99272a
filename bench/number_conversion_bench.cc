// Double conversions against the C runtime's strtod and snprintf("%.17g"),
// measured on the same values in one run.

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/strings/double_conversion.h"
#include "base/strings/string_number_conversions.h"
#include "bench/bench_harness.h"

namespace {

// Half arbitrary finite bit patterns, half values of everyday size with few
// digits, as JSON documents mostly hold.
std::vector<double> SampleValues(size_t count) {
  std::mt19937_64 random(1142);
  std::vector<double> values;
  while (values.size() < count) {
    double value = std::bit_cast<double>(random());
    if (values.size() % 2)
      value = static_cast<double>(random() % 1000000) / 100;
    if (std::isfinite(value))
      values.push_back(value);
  }
  return values;
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  const std::vector<double> values = SampleValues(10000);
  std::vector<std::string> texts;
  for (double value : values) {
    char buffer[base::kFormatDoubleShortestBufferSize];
    texts.push_back(base::FormatDoubleShortest(buffer, value));
  }
  const double count = static_cast<double>(values.size());

  auto parse_ours = [&] {
    for (const std::string& text : texts) {
      double value = 0;
      base::StringToDouble(text, &value);
      bench::DoNotOptimize(&value);
    }
  };
  auto parse_crt = [&] {
    for (const std::string& text : texts) {
      double value = std::strtod(text.c_str(), nullptr);
      bench::DoNotOptimize(&value);
    }
  };
  auto format_ours = [&] {
    char buffer[base::kFormatDoubleShortestBufferSize];
    for (double value : values) {
      base::FormatDoubleShortest(buffer, value);
      bench::DoNotOptimize(buffer);
    }
  };
  auto format_crt = [&] {
    char buffer[32];
    for (double value : values) {
      std::snprintf(buffer, sizeof(buffer), "%.17g", value);
      bench::DoNotOptimize(buffer);
    }
  };
  bench::Report("StringToDouble", bench::MeasureRate(parse_ours, count),
                "values/s");
  bench::Report("strtod", bench::MeasureRate(parse_crt, count), "values/s");
  bench::Report("FormatDoubleShortest", bench::MeasureRate(format_ours, count),
                "values/s");
  bench::Report("snprintf %.17g", bench::MeasureRate(format_crt, count),
                "values/s");
  return 0;
}
