#include "desktop/windows/installer/signing/timestamp_token_info.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "desktop/windows/installer/signing/der_reader.h"
#include "desktop/windows/installer/test/der_builder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using der_builder::Bytes;
using der_builder::Tlv;
using der_builder::Cat;
using der_builder::Seq;

Bytes Text(uint8_t tag, const std::string& text) {
  return Tlv(tag, Bytes(text.begin(), text.end()));
}

const Bytes kSha256Oid = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const Bytes kSignedDataOid = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                              0x0D, 0x01, 0x07, 0x02};
const Bytes kDataOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
const Bytes kTstInfoOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                           0x01, 0x09, 0x10, 0x01, 0x04};
const Bytes kPolicyOid = {0x2A, 0x03, 0x04, 0x01};

Bytes TstInfo(const Bytes& version,
              const Bytes& imprint,
              const Bytes& gen_time,
              const Bytes& after = {}) {
  return Seq(
      {Tlv(0x02, version), Tlv(0x06, kPolicyOid),
       Seq({Seq({Tlv(0x06, kSha256Oid), Tlv(0x05, {})}), Tlv(0x04, imprint)}),
       Tlv(0x02, {0x2A}), gen_time, after});
}

Bytes Token(const Bytes& content_type,
            const Bytes& tst_info,
            const Bytes& digest_algorithms = Tlv(0x31, {})) {
  const Bytes encapsulated =
      Seq({Tlv(0x06, content_type), Tlv(0xA0, Tlv(0x04, tst_info))});
  // The signer infos are empty; the reader does not need them.
  const Bytes signed_data =
      Seq({Tlv(0x02, {0x03}), digest_algorithms, encapsulated, Tlv(0x31, {})});
  return Seq({Tlv(0x06, kSignedDataOid), Tlv(0xA0, signed_data)});
}

struct TimeCase {
  uint8_t tag;
  const char* text;
  // "YYYY-MM-DD hh:mm:ss", or null when the time is refused.
  const char* expected;
};

constexpr TimeCase kTimeCases[] = {
    {0x18, "20260915184235Z", "2026-09-15 18:42:35"},
    {0x18, "20260915184235.125Z", "2026-09-15 18:42:35"},
    {0x17, "260915184235Z", "2026-09-15 18:42:35"},
    {0x17, "500101000000Z", "1950-01-01 00:00:00"},
    {0x18, "20240229235959Z", "2024-02-29 23:59:59"},
    {0x18, "20230229120000Z", nullptr},
    {0x18, "20261301000000Z", nullptr},
    {0x18, "20260931000000Z", nullptr},
    {0x18, "20260915240000Z", nullptr},
    {0x18, "20260915186000Z", nullptr},
    {0x18, "20260915184260Z", nullptr},
    {0x18, "16000101000000Z", nullptr},
    {0x18, "20260915184235", nullptr},
    {0x18, "20260915184235+0100", nullptr},
    {0x18, "2026091518423Z", nullptr},
    {0x18, "20260915184235.Z", nullptr},
    {0x18, "20260915184235.1234567890Z", nullptr},
    {0x18, "2026O915184235Z", nullptr},
    {0x17, "20260915184235Z", nullptr},
    {0x04, "20260915184235Z", nullptr},
};

std::string Format(const StampTime& time) {
  char text[32];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", time.year,
                time.month, time.day, time.hour, time.minute, time.second);
  return text;
}

TEST(TimestampTokenInfoTest, ReadsOnlyWholeTimesInRange) {
  for (const TimeCase& test : kTimeCases) {
    SCOPED_TRACE(test.text);
    const std::optional<StampTime> time =
        TimestampTokenInfo::ReadTime(Text(test.tag, test.text));
    ASSERT_EQ(time.has_value(), test.expected != nullptr);
    if (time)
      EXPECT_EQ(Format(*time), test.expected);
  }
  // A length past the bytes, and a byte after the element.
  Bytes element = Text(0x18, "20260915184235Z");
  element[1] += 1;
  EXPECT_FALSE(TimestampTokenInfo::ReadTime(element));
  element[1] -= 1;
  element.push_back(0);
  EXPECT_FALSE(TimestampTokenInfo::ReadTime(element));
}

// An extension of a type no reader knows, critical or not.
Bytes Extension(bool critical) {
  const Bytes type = Tlv(0x06, {0x2A, 0x03, 0x04, 0x09});
  const Bytes value = Tlv(0x04, Tlv(0x05, {}));
  return critical ? Seq({type, Tlv(0x01, {0xFF}), value}) : Seq({type, value});
}

TEST(TimestampTokenInfoTest, ReadsTheImprintAndTimeOfATokenOnly) {
  const Bytes digest(32, 0xAB);
  const Bytes gen_time = Text(0x18, "20260915184235Z");
  const Bytes accuracy = Seq({Tlv(0x02, {0x01})});
  const Bytes valid = TstInfo({0x01}, digest, gen_time, accuracy);
  const Bytes ordering = Tlv(0x01, {0x00});
  const Bytes nonce = Tlv(0x02, {0x07});
  const Bytes authority = Tlv(0xA0, Tlv(0xA4, Seq({})));
  const Bytes extensions = Tlv(0xA1, Extension(false));
  const auto with = [&](std::initializer_list<Bytes> after) {
    return Token(kTstInfoOid, TstInfo({0x01}, digest, gen_time, Cat(after)));
  };
  struct {
    const char* name;
    Bytes token;
    bool read;
  } cases[] = {
      {"token", Token(kTstInfoOid, valid), true},
      {"other content type", Token(kDataOid, valid), false},
      {"version 2", Token(kTstInfoOid, TstInfo({0x02}, digest, gen_time)),
       false},
      {"empty imprint", Token(kTstInfoOid, TstInfo({0x01}, {}, gen_time)),
       false},
      {"imprint beyond SHA-512",
       Token(kTstInfoOid, TstInfo({0x01}, Bytes(65, 1), gen_time)), false},
      {"UTCTime",
       Token(kTstInfoOid, TstInfo({0x01}, digest, Text(0x17, "260915184235Z"))),
       false},
      {"byte after the token info",
       Token(kTstInfoOid, Cat({valid, Bytes{0x00}})), false},
      {"truncated token", Bytes(valid.begin(), valid.end() - 1), false},
      {"no digest algorithms", Token(kTstInfoOid, valid, {}), false},
      // Read to its end: the optional fields in their order, each once,
      // nothing after them, no extension it must understand.
      {"every optional field",
       with({accuracy, ordering, nonce, authority, extensions}), true},
      {"none after the time", with({}), true},
      {"nonce alone", with({nonce}), true},
      {"non-critical extension", with({extensions}), true},
      {"critical extension",
       with({Tlv(0xA1, Cat({Extension(false), Extension(true)}))}), false},
      {"no extension in the field", with({Tlv(0xA1, {})}), false},
      {"element after the extensions", with({extensions, nonce}), false},
      {"unknown element after the time", with({Text(0x0C, "later")}), false},
      {"nonce before the accuracy", with({nonce, accuracy}), false},
      {"two nonces", with({nonce, nonce}), false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const std::optional<TimestampTokenInfo> info =
        TimestampTokenInfo::FromToken(test.token);
    ASSERT_EQ(info.has_value(), test.read);
    if (!info)
      continue;
    EXPECT_EQ(info->imprint_algorithm(), "2.16.840.1.101.3.4.2.1");
    EXPECT_EQ(Bytes(info->imprint().begin(), info->imprint().end()), digest);
    EXPECT_EQ(Format(info->time()), "2026-09-15 18:42:35");
    // What the signer digests: the token info as the token carries it.
    EXPECT_EQ(Token(kTstInfoOid,
                    Bytes(info->encoded().begin(), info->encoded().end())),
              test.token);
  }
}

TEST(DerReaderTest, ObjectIdentifierTextRefusesWhatDerForbids) {
  struct {
    Bytes contents;
    const char* text;
  } cases[] = {
      {kSha256Oid, "2.16.840.1.101.3.4.2.1"},
      {{0x88, 0x37}, "2.999"},
      {{0x2A, 0x80, 0x01}, nullptr},                    // a padded arc
      {{0x2A, 0x86}, nullptr},                          // an unended arc
      {{0x2A, 0x90, 0x80, 0x80, 0x80, 0x00}, nullptr},  // beyond 32 bits
      {{}, nullptr},
  };
  for (const auto& test : cases) {
    const std::optional<std::string> text =
        DerReader::ObjectIdentifierText(test.contents);
    ASSERT_EQ(text.has_value(), test.text != nullptr);
    if (text)
      EXPECT_EQ(*text, test.text);
  }
}

}  // namespace
}  // namespace installer
