// The lxmachine tool and the daemon's life: boot, status, shutdown, reboot,
// configuration errors, the private directory and the peer's uid.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <thread>

#include "lxmachine/frame_socket.h"
#include "lxmachine/machine_directory.h"
#include "private_machine.h"

using namespace lxm::testing;

namespace {

const std::string kTool = LX_FAKE_TOOL;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(LxmachineTool, BootStatusShutdown) {
    PrivateMachine m(kTool);
    ToolResult before = m.lxmachine({"status"});
    EXPECT_EQ(before.exitStatus, 1);
    EXPECT_TRUE(contains(before.output, "no machine running")) << before.output;

    ToolResult boot = m.lxmachine({"boot"});
    ASSERT_EQ(boot.exitStatus, 0) << boot.output;
    int pid = m.daemonPid();
    EXPECT_TRUE(processAlive(pid));
    // The first boot writes the default configuration and keeps the directory private.
    EXPECT_TRUE(std::filesystem::exists(m.directory() + "/machine.toml"));
    struct stat st{};
    ASSERT_EQ(::stat(m.directory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ToolResult status = m.lxmachine({"status"});
    EXPECT_EQ(status.exitStatus, 0);
    EXPECT_TRUE(contains(status.output, "running at " + m.directory())) << status.output;
    EXPECT_TRUE(contains(status.output, "display 1024x768x32")) << status.output;
    std::string json = m.statusJson();
    EXPECT_TRUE(contains(json, "\"kernel\":\"fake\"")) << json;
    EXPECT_TRUE(contains(json, "\"pid\":" + std::to_string(pid))) << json;
    EXPECT_TRUE(contains(json, "\"clients\":[]")) << json;

    // A second boot finds the machine running and leaves it alone.
    ToolResult again = m.lxmachine({"boot"});
    EXPECT_EQ(again.exitStatus, 0);
    EXPECT_TRUE(contains(again.output, "already running")) << again.output;
    EXPECT_EQ(m.daemonPid(), pid);

    ToolResult off = m.lxmachine({"shutdown"});
    EXPECT_EQ(off.exitStatus, 0) << off.output;
    EXPECT_FALSE(processAlive(pid));
    EXPECT_FALSE(std::filesystem::exists(m.directory() + "/socket"));
    EXPECT_EQ(m.lxmachine({"status"}).exitStatus, 1);
    EXPECT_EQ(m.lxmachine({"shutdown"}).exitStatus, 1);
}

TEST(LxmachineTool, MalformedConfigurationNamesKeyAndLineAndStartsNothing) {
    PrivateMachine m(kTool, "[display]\nwidth = 800\nbits = 12\n");
    ToolResult boot = m.lxmachine({"boot"});
    EXPECT_NE(boot.exitStatus, 0);
    EXPECT_TRUE(contains(boot.output, "machine.toml:3: key 'display.bits': must be one of 8, 15, 16, 24, 32 (got 12)"))
        << boot.output;
    EXPECT_EQ(m.daemonPid(), 0);
    EXPECT_FALSE(std::filesystem::exists(m.directory() + "/socket"));
    EXPECT_EQ(m.lxmachine({"status"}).exitStatus, 1);

    // --config names another file; its errors carry its own name.
    std::string other = m.directory() + "/other.toml";
    { std::ofstream(other) << "[memory]\nram_mb = \"lots\"\n"; }
    ToolResult withFile = m.lxmachine({"boot", "--config", other});
    EXPECT_NE(withFile.exitStatus, 0);
    EXPECT_TRUE(contains(withFile.output, "other.toml:2: key 'memory.ram_mb': must be an integer")) << withFile.output;

    // A kernel that fails to boot leaves no daemon behind either.
    { std::ofstream(other) << "[memory]\nram_mb = 16\n"; }
    ToolResult failing = m.lxmachine({"boot", "--config", other});
    EXPECT_NE(failing.exitStatus, 0);
    EXPECT_TRUE(contains(failing.output, "the machine did not boot: fake kernel: not enough memory")) << failing.output;
    EXPECT_EQ(m.lxmachine({"status"}).exitStatus, 1);
}

TEST(LxmachineTool, DaemonPowersOffWhenItsDirectoryIsRemoved) {
    std::string dir = makePrivateDirectory();
    ASSERT_EQ(runProgram({kTool, "boot", "--dir", dir}).exitStatus, 0);
    int pid = 0;
    std::ifstream(dir + "/daemon.lock") >> pid;
    ASSERT_TRUE(processAlive(pid));
    removeTree(dir);
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
        gone = !processAlive(pid);
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(gone);
    if (!gone) ::kill(pid, SIGKILL);
}

TEST(LxmachineTool, RefusesADirectoryOthersCanEnter) {
    std::string dir = makePrivateDirectory();
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ToolResult boot = runProgram({kTool, "boot", "--dir", dir});
    EXPECT_NE(boot.exitStatus, 0);
    EXPECT_TRUE(contains(boot.output, "is accessible to others (mode 0755, needs 0700)")) << boot.output;
    EXPECT_FALSE(std::filesystem::exists(dir + "/socket"));
    removeTree(dir);
}

TEST(LxmachineTool, DirectoryResolution) {
    ::setenv("LX_MACHINE", "/tmp/from-env", 1);
    EXPECT_EQ(lxm::resolveMachineDirectory("/tmp/explicit"), "/tmp/explicit");
    EXPECT_EQ(lxm::resolveMachineDirectory(nullptr), "/tmp/from-env");
    ::unsetenv("LX_MACHINE");
    ::setenv("XDG_RUNTIME_DIR", "/run/user/42", 1);
    EXPECT_EQ(lxm::resolveMachineDirectory(nullptr), "/run/user/42/lxmachine");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(lxm::resolveMachineDirectory(nullptr), "/tmp/lxmachine-" + std::to_string(::getuid()));
}

TEST(LxmachineTool, RefusesAPeerOfAnotherUid) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to act as another uid";
    PrivateMachine m(kTool);
    ASSERT_TRUE(m.boot());
    // Open the way to the socket so that only the daemon's own check stands.
    ASSERT_EQ(::chmod(m.directory().c_str(), 0711), 0);
    ASSERT_EQ(::chmod((m.directory() + "/socket").c_str(), 0777), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(10);
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string path = m.directory() + "/socket";
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(11);
        lxm::wire::PayloadWriter w;
        w.record(lxm::wire::HelloRecord{lxm::wire::kProtocolVersion, 3, 0, 0, 0});
        lxm::sendFrame(fd, lxm::wire::Op::Hello, 1, w.data());
        lxm::Frame frame;
        // The daemon closes the connection without an answer.
        _exit(lxm::receiveFrame(fd, &frame, 10000) == lxm::IoResult::Closed ? 0 : 12);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(::chmod(m.directory().c_str(), 0700), 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(m.lxmachine({"status"}).exitStatus, 0);
    // A client also refuses a directory that others can enter.
    ASSERT_EQ(::chmod(m.directory().c_str(), 0750), 0);
    std::string error;
    EXPECT_FALSE(lxm::connectToMachine(m.directory(), &error).valid());
    EXPECT_TRUE(contains(error, "accessible to others")) << error;
    ASSERT_EQ(::chmod(m.directory().c_str(), 0700), 0);
}

TEST(LxmachineTool, MalformedFramesDropOnlyTheirConnection) {
    PrivateMachine m(kTool);
    ASSERT_TRUE(m.boot());
    auto helloThenSend = [&](const std::vector<uint8_t>& bytes) {
        std::string error;
        lxm::UniqueFd fd = lxm::connectToMachine(m.directory(), &error);
        EXPECT_TRUE(fd.valid()) << error;
        lxm::wire::PayloadWriter w;
        w.record(lxm::wire::HelloRecord{lxm::wire::kProtocolVersion, 3, 0, 0, 0});
        lxm::Frame frame;
        EXPECT_EQ(lxm::sendFrame(fd.get(), lxm::wire::Op::Hello, 1, w.data()), lxm::IoResult::Ok);
        EXPECT_EQ(lxm::receiveFrame(fd.get(), &frame, 10000), lxm::IoResult::Ok);
        EXPECT_EQ(::write(fd.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        return lxm::receiveFrame(fd.get(), &frame, 10000);
    };
    // A header with a bad magic, and a status request whose record is cut short.
    std::vector<uint8_t> garbage(16, 0xFF);
    EXPECT_EQ(helloThenSend(garbage), lxm::IoResult::Closed);
    lxm::wire::FrameHeader shortStatus{lxm::wire::kMagic, static_cast<uint16_t>(lxm::wire::Op::Status), 0, 2, 3};
    std::vector<uint8_t> bytes(reinterpret_cast<uint8_t*>(&shortStatus),
                               reinterpret_cast<uint8_t*>(&shortStatus) + sizeof shortStatus);
    bytes.insert(bytes.end(), {1, 0, 0});
    EXPECT_EQ(helloThenSend(bytes), lxm::IoResult::Closed);
    EXPECT_EQ(m.lxmachine({"status"}).exitStatus, 0);
    EXPECT_TRUE(m.shutdown());
}

TEST(LxmachineTool, PlugUnplugAndDisplay) {
    PrivateMachine m(kTool);
    ASSERT_TRUE(m.boot());
    ToolResult plug = m.lxmachine({"plug", "terncard", "--signature", "no", "--revision", "0x22", "--switch", "2"});
    EXPECT_EQ(plug.exitStatus, 0) << plug.output;
    EXPECT_EQ(plug.output, "2\n");
    EXPECT_TRUE(contains(m.statusJson(), "\"cards\":2"));
    EXPECT_EQ(m.lxmachine({"plug", "terncard", "--switch", "4"}).exitStatus, 2);
    EXPECT_EQ(m.lxmachine({"plug", "terncard", "--signature", "maybe"}).exitStatus, 2);

    EXPECT_EQ(m.lxmachine({"unplug", "terncard", "2"}).exitStatus, 0);
    EXPECT_EQ(m.lxmachine({"unplug", "terncard", "5", "--surprise"}).exitStatus, 1);
    EXPECT_TRUE(contains(m.statusJson(), "\"cards\":1"));

    // Audio functions are numbered apart from the cards.
    EXPECT_EQ(m.lxmachine({"plug", "heron_audio"}).output, "1\n");
    EXPECT_EQ(m.lxmachine({"plug", "heron_audio", "--port"}).output, "2\n");
    EXPECT_TRUE(contains(m.statusJson(), "\"audio\":[\"memory\",\"port\"]"));
    EXPECT_EQ(m.lxmachine({"plug", "heron_audio", "--revision", "1"}).exitStatus, 2);
    EXPECT_EQ(m.lxmachine({"unplug", "heron_audio"}).exitStatus, 2);
    EXPECT_EQ(m.lxmachine({"unplug", "heron_audio", "3"}).exitStatus, 1);
    ToolResult unplugged = m.lxmachine({"unplug", "heron_audio", "1", "--surprise"});
    EXPECT_EQ(unplugged.exitStatus, 0);
    EXPECT_EQ(unplugged.output, "audio function 1 removed\n");
    EXPECT_TRUE(contains(m.statusJson(), "\"audio\":[\"port\"]"));
    EXPECT_TRUE(contains(m.statusJson(), "\"cards\":1"));

    EXPECT_EQ(m.lxmachine({"display", "800x600x16"}).exitStatus, 0);
    EXPECT_TRUE(contains(m.lxmachine({"status"}).output, "display 800x600x16"));
    EXPECT_EQ(m.lxmachine({"display", "800x600x12"}).exitStatus, 2);
    EXPECT_EQ(m.lxmachine({"display", "800x600"}).exitStatus, 2);
    EXPECT_EQ(m.lxmachine({"frobnicate"}).exitStatus, 2);
    EXPECT_TRUE(m.shutdown());
}

TEST(LxmachineTool, SourceAndSwitchReachTheCard) {
    PrivateMachine m(kTool);
    ASSERT_TRUE(m.boot());
    ToolResult bars = m.lxmachine({"source", "1", "3", "bars"});
    EXPECT_EQ(bars.exitStatus, 0) << bars.output;
    EXPECT_EQ(bars.output, "card 1 input 3: bars\n");
    EXPECT_EQ(m.lxmachine({"source", "1", "0", "none"}).exitStatus, 0);
    ToolResult stamp = m.lxmachine({"source", "1", "1", "stamp:42"});
    EXPECT_EQ(stamp.exitStatus, 0) << stamp.output;
    EXPECT_EQ(stamp.output, "card 1 input 1: stamp:42\n");
    EXPECT_EQ(m.lxmachine({"switch", "1", "2"}).exitStatus, 0);
    std::string status = m.statusJson();
    EXPECT_TRUE(contains(status, "\"sources\":[\"1/3=bars\",\"1/0=none\",\"1/1=stamp:42\"]")) << status;
    EXPECT_TRUE(contains(status, "\"switches\":[\"1=2\"]")) << status;

    // A relative image path is resolved against the tool's directory, not the daemon's.
    const std::string image = m.directory() + "/picture.ppm";
    std::ofstream(image) << "P6\n1 1\n255\n" << std::string(3, '\x7f');
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(m.directory());
    ToolResult relative = m.lxmachine({"source", "1", "2", "image:picture.ppm"});
    std::filesystem::current_path(here);
    EXPECT_EQ(relative.exitStatus, 0) << relative.output;
    EXPECT_TRUE(contains(m.statusJson(), "\"1/2=image:" + image + "\"")) << m.statusJson();
    EXPECT_TRUE(m.shutdown());
}

TEST(LxmachineTool, SourceAndSwitchRefuseBadArgumentsAndKeepTheOldState) {
    PrivateMachine m(kTool);
    ASSERT_TRUE(m.boot());
    ASSERT_EQ(m.lxmachine({"source", "1", "3", "bars"}).exitStatus, 0);
    ASSERT_EQ(m.lxmachine({"switch", "1", "1"}).exitStatus, 0);

    // Argument errors never reach the machine: usage and exit 2.
    ToolResult input = m.lxmachine({"source", "1", "4", "bars"});
    EXPECT_EQ(input.exitStatus, 2);
    EXPECT_TRUE(contains(input.output, "INPUT is a number from 0 to 3")) << input.output;
    ToolResult kind = m.lxmachine({"source", "1", "0", "stripes"});
    EXPECT_EQ(kind.exitStatus, 2);
    EXPECT_TRUE(contains(kind.output, "SOURCE is none, bars, stamp[:ID] or image:PATH (got 'stripes')")) << kind.output;
    EXPECT_EQ(m.lxmachine({"source", "1", "0", "stamp:256"}).exitStatus, 2);
    EXPECT_EQ(m.lxmachine({"source", "1", "0", "stamp:"}).exitStatus, 2);
    EXPECT_EQ(m.lxmachine({"source", "1", "0", "image:"}).exitStatus, 2);
    EXPECT_EQ(m.lxmachine({"source", "0", "0", "bars"}).exitStatus, 2);
    EXPECT_EQ(m.lxmachine({"source", "1", "0"}).exitStatus, 2);
    EXPECT_EQ(m.lxmachine({"source", "1", "0", "bars", "--json"}).exitStatus, 2);
    ToolResult bits = m.lxmachine({"switch", "1", "4"});
    EXPECT_EQ(bits.exitStatus, 2);
    EXPECT_TRUE(contains(bits.output, "BITS is a number from 0 to 3")) << bits.output;
    EXPECT_EQ(m.lxmachine({"switch", "1"}).exitStatus, 2);
    EXPECT_EQ(m.lxmachine({"switch", "x", "1"}).exitStatus, 2);

    // The machine refuses an unknown card or an unusable source: exit 1 and why.
    ToolResult card = m.lxmachine({"source", "7", "0", "bars"});
    EXPECT_EQ(card.exitStatus, 1);
    EXPECT_TRUE(contains(card.output, "card 7 input 0 keeps its source: no capture card 7")) << card.output;
    ToolResult missing = m.lxmachine({"source", "1", "0", "image:/nonexistent/picture.ppm"});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_TRUE(contains(missing.output, "cannot use 'image:/nonexistent/picture.ppm' on input 0")) << missing.output;
    ToolResult noSwitch = m.lxmachine({"switch", "7", "1"});
    EXPECT_EQ(noSwitch.exitStatus, 1);
    EXPECT_TRUE(contains(noSwitch.output, "no capture card 7")) << noSwitch.output;

    std::string status = m.statusJson();
    EXPECT_TRUE(contains(status, "\"sources\":[\"1/3=bars\"]")) << status;
    EXPECT_TRUE(contains(status, "\"switches\":[\"1=1\"]")) << status;
    EXPECT_TRUE(m.shutdown());
}

TEST(LxmachineTool, RebootWithABrokenConfigurationKeepsTheMachineRunning) {
    PrivateMachine m(kTool);
    ASSERT_TRUE(m.boot());
    int pid = m.daemonPid();
    m.writeConfig("[clock]\nfactor = \"fast\"\n");
    ToolResult reboot = m.lxmachine({"reboot"});
    EXPECT_EQ(reboot.exitStatus, 1);
    EXPECT_TRUE(contains(reboot.output, "machine.toml:2: key 'clock.factor': must be a number")) << reboot.output;
    EXPECT_TRUE(contains(m.lxmachine({"status"}).output, "boot 1"));
    m.writeConfig("[display]\nbits = 16\n");
    EXPECT_EQ(m.lxmachine({"reboot"}).exitStatus, 0);
    ToolResult status = m.lxmachine({"status"});
    EXPECT_TRUE(contains(status.output, "boot 2")) << status.output;
    EXPECT_TRUE(contains(status.output, "display 1024x768x16")) << status.output;
    EXPECT_EQ(m.daemonPid(), pid);
    EXPECT_TRUE(m.shutdown());
}

}  // namespace
