// The daemon against clients that do what no well-behaved program does:
// requests left queued at exit, forged views, oversized or idle frames,
// more of everything than a process may hold.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "private_machine.h"
#include "raw_client.h"

using namespace lxm::testing;
using lxm::wire::Op;

namespace {

const std::string kTool = LX_FAKE_TOOL;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class MisbehavingClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        machine_ = new PrivateMachine(kTool);
        ASSERT_TRUE(machine_->boot());
    }
    static void TearDownTestSuite() {
        delete machine_;
        machine_ = nullptr;
    }

    // Waits (bounded) until the machine lists no client and no named object.
    static bool eventuallyEmpty(std::string* json) {
        for (int i = 0; i < 500; ++i) {
            *json = machine_->statusJson();
            if (contains(*json, "\"clients\":[]") && contains(*json, "\"namedObjects\":[]")) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    static PrivateMachine* machine_;
};
PrivateMachine* MisbehavingClient::machine_ = nullptr;

TEST_F(MisbehavingClient, RequestsQueuedAtExitCreateNothing) {
    for (int round = 0; round < 3; ++round) {
        RawClient client;
        std::string error;
        ASSERT_TRUE(client.attach(machine_->directory(), &error)) << error;
        auto thread = client.addThread(machine_->directory(), &error);
        ASSERT_TRUE(thread) << error;
        // The first one is answered, so the thread is being served when the process ends.
        auto first = client.call(*thread, Op::CreateMapping, RawClient::createMapping("Queued-first-" + std::to_string(round), 4096));
        ASSERT_TRUE(first);
        EXPECT_EQ(first->record.status, 0);
        for (int i = 0; i < 200; ++i) {
            std::string name = "Queued-" + std::to_string(round) + "-" + std::to_string(i);
            ASSERT_TRUE(client.send(*thread, Op::CreateMapping, RawClient::createMapping(name, uint64_t{1} << 32)));
        }
        client.exit();
    }
    std::string json;
    EXPECT_TRUE(eventuallyEmpty(&json)) << countOf(json, "\"kind\":\"mapping\"") << " mappings left";
}

}  // namespace
