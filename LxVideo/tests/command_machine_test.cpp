// Commands and device control of the on-board controller through the public
// API, checked against what the card model's controller recorded (the
// machine's status report), and the open count that command 16 answers, as
// a second process sees it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lx/terncard_command.h"
#include "lx/video.h"
#include "lx/video_card.h"
#include "machine_first.h"

// Card 1 carries the signature and the bars on input 3; card 2 has neither.
const char* terncard::testing::machineConfig() {
  return "[clock]\nfactor = 20\n\n[[terncard]]\nsignature = true\nsources = [\"none\", \"none\", \"none\", \"bars\"]\n\n"
         "[[terncard]]\nsignature = false\nsources = [\"bars\", \"none\", \"none\", \"none\"]\n";
}

namespace {

terncard::testing::MachineControl machine;

class Card {
 public:
  explicit Card(int number) { status = BeginLxCard(number, &handle); }
  ~Card() {
    if (handle != nullptr) {
      EXPECT_EQ(EndLxCard(handle), LX_OK);
    }
  }
  LxStatus status = LX_INTERNAL_ERROR;
  LxCardHandle handle = nullptr;
};

LxStatus command(LxCardHandle handle, uint32_t type, TernCardCommandRecord* record, int32_t* size) {
  return LxCommand(handle, type, reinterpret_cast<int32_t*>(record), size);
}

// A transaction of the controller's record as the status report writes it.
std::string transaction(int sub, const std::vector<int>& written, const std::vector<int>& read) {
  auto list = [](const std::vector<int>& bytes) {
    std::string text = "[";
    for (size_t k = 0; k < bytes.size(); ++k) text += (k ? "," : "") + std::to_string(bytes[k]);
    return text + "]";
  };
  return "\"sub\":" + std::to_string(sub) + ",\"written\":" + list(written) + ",\"read\":" + list(read) + "}";
}

// Number of the latest recorded transaction of any controller (0 if none).
uint64_t latestTransaction(const std::string& status) {
  uint64_t latest = 0;
  const std::string key = "{\"number\":";
  for (size_t at = status.find(key); at != std::string::npos; at = status.find(key, at + 1)) {
    latest = std::max<uint64_t>(latest, std::stoull(status.substr(at + key.size())));
  }
  return latest;
}

std::string peer(const std::vector<std::string>& commands) {
  std::vector<std::string> argv{LX_CARD_PEER};
  argv.insert(argv.end(), commands.begin(), commands.end());
  return lxm::testing::runProgram(argv, 60).output;
}

TEST(CommandMachine, MessageBytesReachTheControllerAfterItsAddress) {
  Card card(1);
  ASSERT_EQ(card.status, LX_OK);
  uint8_t data[3] = {0x5C, 0x6D, 0x7E};
  TernCardCommandRecord record{nullptr, 0, 0, data, 3, 0};
  int32_t size = 32;
  ASSERT_EQ(command(card.handle, TERN_COMMAND_MESSAGE, &record, &size), LX_OK);
  const std::string status = machine.statusJson();
  const size_t message = status.find(transaction(80, {0, 3, 0x5C, 0x6D, 0x7E}, {}));
  ASSERT_NE(message, std::string::npos) << status;
  // Then the status check read '<'.
  EXPECT_NE(status.find(transaction(83, {}, {'<'}), message), std::string::npos);

  // The reply block holds the message's data, its header count and the operation counter.
  uint8_t reply[8] = {};
  uint32_t replyBytes = 3;
  ASSERT_EQ(LxDeviceControl(card.handle, 2, reply, &replyBytes), LX_OK);
  EXPECT_EQ(std::vector<uint8_t>(reply, reply + 4), (std::vector<uint8_t>{0x5C, 0x6D, 0x7E, 0}));
  uint8_t counter = 0;
  uint32_t counterBytes = 0;
  ASSERT_EQ(LxDeviceControl(card.handle, 1, &counter, &counterBytes), LX_OK);
  EXPECT_EQ(counterBytes, 1u);
  ASSERT_EQ(command(card.handle, TERN_COMMAND_MESSAGE, &record, &size), LX_OK);
  uint8_t after = 0;
  ASSERT_EQ(LxDeviceControl(card.handle, 1, &after, &counterBytes), LX_OK);
  EXPECT_EQ(after, static_cast<uint8_t>(counter + 1));
}

TEST(CommandMachine, RefusedAndUnknownCommandsSendNothing) {
  Card card(1);
  ASSERT_EQ(card.status, LX_OK);
  uint8_t data[3] = {1, 2, 3};
  TernCardCommandRecord record{nullptr, 0, 0x0100, data, 3, 0};
  const uint64_t before = latestTransaction(machine.statusJson());
  int32_t size = 16;
  EXPECT_EQ(command(card.handle, TERN_COMMAND_WRITE, &record, &size), LX_INTERNAL_ERROR);
  size = 32;
  record.dataCount = 0;
  EXPECT_EQ(command(card.handle, TERN_COMMAND_MESSAGE, &record, &size), LX_INTERNAL_ERROR);
  record.dataCount = 3;
  EXPECT_EQ(command(card.handle, 7, &record, &size), LX_OK);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(LxCommand(card.handle, TERN_COMMAND_MESSAGE, nullptr, &size), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxCommand(card.handle, TERN_COMMAND_MESSAGE, reinterpret_cast<int32_t*>(&record), nullptr),
            LX_PARAMETER_INVALID);
  uint8_t byte = 0;
  uint32_t bytes = 0;
  ASSERT_EQ(LxDeviceControl(card.handle, 0, &byte, &bytes), LX_OK);
  EXPECT_EQ(byte, 1);
  EXPECT_EQ(bytes, 1u);
  EXPECT_EQ(LxDeviceControl(card.handle, 9, &byte, &bytes), LX_INTERNAL_ERROR);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(LxDeviceControl(card.handle, 0, nullptr, &bytes), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDeviceControl(nullptr, 0, &byte, &bytes), LX_CARD_HANDLE_INVALID);
  EXPECT_EQ(latestTransaction(machine.statusJson()), before);
}

TEST(CommandMachine, MemoryWrittenAndReadBackThenClearedByTheReset) {
  Card card(1);
  ASSERT_EQ(card.status, LX_OK);
  const uint8_t header[1] = {0x42};
  uint8_t data[4] = {0xA1, 0xA2, 0xA3, 0xA4};
  TernCardCommandRecord write{header, 1, 0x0300, data, 4, 0};
  int32_t size = 32;
  ASSERT_EQ(command(card.handle, TERN_COMMAND_WRITE, &write, &size), LX_OK);
  const std::string status = machine.statusJson();
  EXPECT_NE(status.find(transaction(81, {1, 0x42, 0x03, 0x00, 4, 0xA1, 0xA2, 0xA3, 0xA4}, {})), std::string::npos)
      << status;

  uint8_t back[4] = {};
  TernCardCommandRecord read{nullptr, 0, 0x0301, back, 3, 0};
  ASSERT_EQ(command(card.handle, TERN_COMMAND_READ, &read, &size), LX_OK);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 4), (std::vector<uint8_t>{0xA2, 0xA3, 0xA4, 0}));
  EXPECT_NE(machine.statusJson().find(transaction(82, {0x03, 0x01}, {0xA2, 0xA3, 0xA4})), std::string::npos);
  // The transfers leave every line an input.
  int32_t enables = -1;
  ASSERT_EQ(LxGet32BitParam(card.handle, 0x118, &enables), LX_OK);
  EXPECT_EQ(enables, 0);

  uint8_t unused = 0;
  uint32_t bytes = 0;
  ASSERT_EQ(LxDeviceControl(card.handle, 3, &unused, &bytes), LX_OK);
  EXPECT_NE(machine.statusJson().find(transaction(85, {0xFF}, {})), std::string::npos);
  uint8_t counter = 0xEE;
  ASSERT_EQ(LxDeviceControl(card.handle, 1, &counter, &bytes), LX_OK);
  EXPECT_EQ(counter, 0) << "the reset clears the operation counter";
  ASSERT_EQ(command(card.handle, TERN_COMMAND_READ, &read, &size), LX_OK);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 3), (std::vector<uint8_t>{0, 0, 0})) << "and the memory";
}

TEST(CommandMachine, OpenCountIsTheCountAnotherProcessSees) {
  // The peer's own open of card 2 is counted while it holds the card.
  EXPECT_EQ(peer({"command", "2"}), "1\n");
  EXPECT_EQ(peer({"count", "2"}), "0\n");

  int32_t four = 4;
  int32_t count = -1;
  {
    Card first(1);
    ASSERT_EQ(first.status, LX_OK);
    ASSERT_EQ(LxCommand(first.handle, 16, &count, &four), LX_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(peer({"count", "1"}), std::to_string(count) + "\n");
    // A card held here cannot be opened by the peer; its count stays.
    EXPECT_EQ(peer({"command", "1", "count", "1"}).substr(0, 6), "error ");
    ASSERT_EQ(LxCommand(first.handle, 16, &count, &four), LX_OK);
    EXPECT_EQ(count, 1);

    Card other(2);
    ASSERT_EQ(other.status, LX_OK);
    int32_t otherCount = -1;
    ASSERT_EQ(LxCommand(other.handle, 16, &otherCount, &four), LX_OK);
    EXPECT_EQ(peer({"count", "2"}), std::to_string(otherCount) + "\n");
    EXPECT_EQ(otherCount, 1);

    int32_t untouched = 77;
    int32_t eight = 8;
    EXPECT_EQ(LxCommand(first.handle, 16, &untouched, &eight), LX_INTERNAL_ERROR);
    EXPECT_EQ(untouched, 77);
    EXPECT_EQ(LxCommand(nullptr, 16, &untouched, &four), LX_CARD_HANDLE_INVALID);
  }
  EXPECT_EQ(peer({"count", "1", "count", "2"}), "0\n0\n");
}

// A program that only loads the library starts no machine; its first card
// open does (auto-boot), and the open is counted in a map made then.
TEST(CommandMachine, LoadingTheLibraryBootsNothingTheFirstOpenDoes) {
  const std::string directory = lxm::testing::makePrivateDirectory();
  const std::vector<std::string> environment{"LX_MACHINE=" + directory, "LX_MACHINE_NO_AUTOBOOT=0"};
  const auto daemonRuns = [&directory] {
    return lxm::testing::runProgram({LX_STACK_TOOL, "status", "--dir", directory}).exitStatus == 0;
  };
  const lxm::testing::ToolResult loaded = lxm::testing::runProgram({LX_CARD_PEER}, 60, environment);
  EXPECT_EQ(loaded.exitStatus, 0) << loaded.output;
  EXPECT_FALSE(daemonRuns()) << "loading the library booted a machine";

  EXPECT_EQ(lxm::testing::runProgram({LX_CARD_PEER, "command", "1", "count", "1"}, 180, environment).output,
            "1\n0\n");
  EXPECT_TRUE(daemonRuns());
  lxm::testing::runProgram({LX_STACK_TOOL, "shutdown", "--dir", directory});
  lxm::testing::removeTree(directory);
}

}  // namespace
