#include "desktop/windows/installer/ipc/installer_message.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "base/binary_reader.h"
#include "base/observer_list.h"
#include "base/test/scoped_log_capture.h"
#include "desktop/windows/installer/ipc/test/recording_installer_observer.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Writes the signature and `type`; the caller appends the rest.
base::BinaryWriter* Signed(base::BinaryWriter* message, uint32_t type) {
  message->WriteString(kInstallerMessageSignature);
  message->WriteUint32(type);
  return message;
}

TEST(InstallerMessageTest, BadMessagesAreDroppedWithTheirWarning) {
  const struct {
    const char* name;
    std::function<void(base::BinaryWriter*)> fill;
    const char* warning;  // Null: dropped without a line.
  } kCases[] = {
      {"nothing at all", [](base::BinaryWriter*) {},
       "Received a message without installer signature"},
      {"another signature",
       [](base::BinaryWriter* m) {
         m->WriteString(":Installer message");
         m->WriteUint32(IPC_MESSAGE_STEP);
       },
       "Received a message without installer signature"},
      {"no type",
       [](base::BinaryWriter* m) {
         m->WriteString(kInstallerMessageSignature);
       },
       nullptr},
      {"type 9", [](base::BinaryWriter* m) { Signed(m, 9); },
       "Received installer message with invalid type"},
      {"flag missing",
       [](base::BinaryWriter* m) {
         Signed(m, IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
       },
       "Received invalid IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS message"},
      {"step count missing",
       [](base::BinaryWriter* m) { Signed(m, IPC_MESSAGE_TOTAL_STEPS); },
       "Received invalid IPC_MESSAGE_TOTAL_STEPS message"},
      {"error without its diagnostic",
       [](base::BinaryWriter* m) {
         Signed(m, IPC_MESSAGE_ERROR)->WriteUint32(37055);
         m->WriteWideString(L"C:\\Tarvo");
       },
       "Received invalid IPC_MESSAGE_ERROR message"},
      {"error text longer than the datagram",
       [](base::BinaryWriter* m) {
         Signed(m, IPC_MESSAGE_ERROR)->WriteUint32(37055);
         m->WriteUint32(1000);
       },
       "Received invalid IPC_MESSAGE_ERROR message"},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    base::BinaryWriter message;
    test_case.fill(&message);
    RecordingInstallerObserver observer;
    base::ObserverList<InstallerObserver> observers;
    observers.AddObserver(&observer);
    base::ScopedLogCapture log;
    EXPECT_FALSE(ReplayInstallerMessage(message, observers));
    EXPECT_TRUE(observer.calls().empty());
    const std::vector<std::string> expected_log =
        test_case.warning ? std::vector<std::string>{test_case.warning}
                          : std::vector<std::string>{};
    EXPECT_EQ(expected_log, log.lines());
  }
}

size_t Padded(size_t bytes) {
  return (bytes + 3) / 4 * 4;
}

TEST(InstallerMessageTest, ErrorTextsAreCutToFitOneDatagram) {
  // A detail of one plain character and then surrogate pairs, and a text of
  // three-byte characters, so that a careless cut would split a character.
  const std::wstring kPair = L"\U0001F4BE";
  const std::string kEuro = "\xE2\x82\xAC";
  const struct {
    size_t detail_units;
    size_t message_bytes;
    size_t kept_detail_units;
    size_t kept_message_bytes;
  } kCases[] = {
      {0, 21, 0, 21},
      {1001, 0, 1001, 0},      // 2048 bytes with the padding: fits.
      {1003, 0, 1001, 0},      // The room of 1002 units ends inside a pair.
      {0, 2004, 0, 2004},      // 2048 bytes: fits.
      {1, 2100, 1, 1998},      // The room of 2000 bytes ends inside a "€".
      {11, 6000, 11, 1980},    // The short detail keeps all.
      {6001, 12, 995, 12},     // The short text keeps all.
      {6001, 6000, 501, 999},  // Both long: about half each.
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(testing::Message() << test_case.detail_units << " units, "
                                    << test_case.message_bytes << " bytes");
    std::wstring detail = test_case.detail_units ? L"x" : L"";
    while (detail.size() < test_case.detail_units)
      detail += kPair;
    std::string text;
    while (text.size() < test_case.message_bytes)
      text += kEuro;
    const std::unique_ptr<InstallerMessage> message =
        MakeErrorMessage(37059, detail, text);

    EXPECT_LE(message->size(), kMaxInstallerMessageSize);
    base::BinaryReader reader(*message);
    std::string signature;
    uint32_t type = 0;
    uint32_t code = 0;
    std::wstring sent_detail;
    std::string sent_text;
    ASSERT_TRUE(reader.ReadString(&signature) && reader.ReadUint32(&type) &&
                reader.ReadUint32(&code) &&
                reader.ReadWideString(&sent_detail) &&
                reader.ReadString(&sent_text));
    EXPECT_EQ(test_case.kept_detail_units, sent_detail.size());
    EXPECT_EQ(test_case.kept_message_bytes, sent_text.size());
    EXPECT_EQ(detail.substr(0, sent_detail.size()), sent_detail);
    EXPECT_EQ(text.substr(0, sent_text.size()), sent_text);
    EXPECT_EQ(44 + Padded(2 * sent_detail.size()) + Padded(sent_text.size()),
              message->size());
    // A known cause takes its four bytes from the texts' room.
    EXPECT_LE(MakeErrorMessage(37059, detail, text, 112)->size(),
              kMaxInstallerMessageSize);
  }
}

// The cause follows the texts: a front end that stops reading after them
// (as older ones do) still gets the error, and a backend that sends none
// (an older one) gives the error without a cause.
TEST(InstallerMessageTest, ErrorCauseTravelsAfterTheTexts) {
  const struct {
    const char* name;
    std::function<std::unique_ptr<base::BinaryWriter>()> make;
    std::vector<std::string> calls;
  } kCases[] = {
      {"with a cause",
       [] { return MakeErrorMessage(37062, L"C:\\T\\a.pak", "copy", 112); },
       {"OnError 37062 C:\\T\\a.pak copy (112)"}},
      {"without a cause",
       [] { return MakeErrorMessage(37062, L"C:\\T\\a.pak", "copy"); },
       {"OnError 37062 C:\\T\\a.pak copy"}},
      {"from a backend that sends no cause",
       [] {
         auto message = std::make_unique<base::BinaryWriter>();
         Signed(message.get(), IPC_MESSAGE_ERROR)->WriteUint32(37059);
         message->WriteWideString(L"C:\\T");
         message->WriteString("create");
         return message;
       },
       {"OnError 37059 C:\\T create"}},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    RecordingInstallerObserver observer;
    base::ObserverList<InstallerObserver> observers;
    observers.AddObserver(&observer);
    EXPECT_TRUE(ReplayInstallerMessage(*test_case.make(), observers));
    EXPECT_EQ(test_case.calls, observer.calls());
  }
  // What an older front end reads of a message with a cause.
  const std::unique_ptr<InstallerMessage> message =
      MakeErrorMessage(37062, L"C:\\T\\a.pak", "copy", 112);
  base::BinaryReader reader(*message);
  std::string signature;
  uint32_t type = 0;
  uint32_t code = 0;
  std::wstring detail;
  std::string text;
  ASSERT_TRUE(reader.ReadString(&signature) && reader.ReadUint32(&type) &&
              reader.ReadUint32(&code) && reader.ReadWideString(&detail) &&
              reader.ReadString(&text));
  EXPECT_EQ(std::make_tuple(37062u, std::wstring(L"C:\\T\\a.pak"),
                            std::string("copy")),
            std::make_tuple(code, detail, text));
}

}  // namespace
}  // namespace installer
