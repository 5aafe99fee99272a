// JSON reading and writing throughput on one generated document, next to
// RapidJSON and nlohmann-json built with the same toolchain.

#include <cstdint>
#include <random>
#include <string>

#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/values.h"
#include "bench/bench_harness.h"
#include "nlohmann/json.hpp"
#include "rapidjson/document.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"

namespace {

constexpr size_t kTargetSize = 8 * 1000 * 1000;
constexpr size_t kSmokeTargetSize = 100 * 1000;

std::string RandomName(std::mt19937_64& random) {
  static const char* const kParts[] = {
      "alpha",       "beta",           "gamma",
      "delta",       "caf\xC3\xA9",    "\xE4\xB8\xAD\xE6\x96\x87",
      "line\nbreak", "tab\tbed",       "quote\"d",
      "path\\to",    "plain text here"};
  std::string name;
  const int count = 1 + random() % 4;
  for (int i = 0; i < count; ++i) {
    if (i)
      name += ' ';
    name += kParts[random() % std::size(kParts)];
  }
  return name;
}

double RandomDouble(std::mt19937_64& random) {
  std::uniform_real_distribution<double> wide(-1e6, 1e6);
  switch (random() % 3) {
    case 0:
      return wide(random);
    case 1:
      return static_cast<double>(random() % 100000) / 100;
    default:
      return wide(random) * 1e-9;
  }
}

// Records of doubles and strings, as measurements and settings hold them.
base::ValueOwner MakeDocument() {
  std::mt19937_64 random(1157);
  base::ListValueOwner records = base::MakeValue<base::ListValue>();
  std::string text;
  for (;;) {
    for (int i = 0; i < 1000; ++i) {
      base::DictionaryValueOwner record =
          base::MakeValue<base::DictionaryValue>();
      record->SetInteger("id", static_cast<int32_t>(random() % 1000000));
      record->SetString("name", RandomName(random));
      record->SetDoubleByKey("score", RandomDouble(random));
      record->Set("active", base::MakeBooleanValue(random() % 2));
      base::ListValueOwner position = base::MakeValue<base::ListValue>();
      for (int axis = 0; axis < 3; ++axis)
        position->AppendDouble(RandomDouble(random));
      record->Set("position", std::move(position));
      base::ListValueOwner tags = base::MakeValue<base::ListValue>();
      for (uint64_t tag = random() % 4; tag > 0; --tag)
        tags->AppendString(RandomName(random));
      record->Set("tags", std::move(tags));
      records->Append(std::move(record));
    }
    base::WriteJson(*records, &text);
    if (text.size() >= bench::SmokeOr(kTargetSize, kSmokeTargetSize))
      return records;
  }
}

double MegabytesPerSecond(const std::function<void()>& body, size_t bytes) {
  return bench::MeasureRate(body, static_cast<double>(bytes), 1.0) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  const base::ValueOwner tree = MakeDocument();
  std::string document;
  base::WriteJson(*tree, &document);
  const size_t size = document.size();
  bench::Report("document size", size / 1e6, "MB");

  bench::Report("parse ours",
                MegabytesPerSecond(
                    [&] {
                      base::ValueOwner root = base::ReadJson(document);
                      bench::DoNotOptimize(root.get());
                    },
                    size),
                "MB/s");
  bench::Report("parse rapidjson",
                MegabytesPerSecond(
                    [&] {
                      rapidjson::Document root;
                      root.Parse(document.data(), document.size());
                      bench::DoNotOptimize(&root);
                    },
                    size),
                "MB/s");
  bench::Report("parse rapidjson (full precision)",
                MegabytesPerSecond(
                    [&] {
                      rapidjson::Document root;
                      root.Parse<rapidjson::kParseFullPrecisionFlag>(
                          document.data(), document.size());
                      bench::DoNotOptimize(&root);
                    },
                    size),
                "MB/s");
  bench::Report("parse nlohmann",
                MegabytesPerSecond(
                    [&] {
                      nlohmann::json root = nlohmann::json::parse(document);
                      bench::DoNotOptimize(&root);
                    },
                    size),
                "MB/s");

  std::string ours;
  bench::Report("write ours",
                MegabytesPerSecond(
                    [&] {
                      base::WriteJson(*tree, &ours);
                      bench::DoNotOptimize(ours.data());
                    },
                    size),
                "MB/s");
  rapidjson::Document rapid;
  rapid.Parse(document.data(), document.size());
  bench::Report("write rapidjson",
                MegabytesPerSecond(
                    [&] {
                      rapidjson::StringBuffer buffer;
                      rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
                      rapid.Accept(writer);
                      bench::DoNotOptimize(buffer.GetString());
                    },
                    size),
                "MB/s");
  const nlohmann::json lohmann = nlohmann::json::parse(document);
  bench::Report("write nlohmann",
                MegabytesPerSecond(
                    [&] {
                      std::string text = lohmann.dump();
                      bench::DoNotOptimize(text.data());
                    },
                    size),
                "MB/s");
  return 0;
}
