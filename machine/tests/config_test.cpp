// The configuration file: defaults, every key, and errors that name key and line.
#include <gtest/gtest.h>

#include "lxmachine/config_file.h"

using lxm::MachineConfig;
using lxm::parseMachineConfig;

namespace {

MachineConfig parsed(const std::string& text) {
    MachineConfig c;
    std::string error;
    EXPECT_TRUE(parseMachineConfig(text, "m.toml", &c, &error)) << error;
    return c;
}

std::string errorOf(const std::string& text) {
    MachineConfig c;
    c.ramMb = 999;  // must stay untouched on failure
    std::string error;
    EXPECT_FALSE(parseMachineConfig(text, "m.toml", &c, &error));
    EXPECT_EQ(c.ramMb, 999u);
    return error;
}

TEST(MachineConfigFile, EmptyFileAndDefaultFileGiveTheDefaults) {
    for (const std::string& text : {std::string(), lxm::defaultMachineConfigText()}) {
        MachineConfig c = parsed(text);
        EXPECT_EQ(c.clockFactor, 1.0);
        EXPECT_EQ(c.display.width, 1024u);
        EXPECT_EQ(c.display.height, 768u);
        EXPECT_EQ(c.display.bits, 32u);
        EXPECT_EQ(c.display.bus, 0u);
        EXPECT_EQ(c.ramMb, 256u);
        ASSERT_EQ(c.terncards.size(), 1u);
        EXPECT_TRUE(c.terncards[0].signature);
        EXPECT_EQ(c.terncards[0].revision, 0x21);
        EXPECT_EQ(c.terncards[0].boardSwitch, 0);
        EXPECT_EQ(c.terncards[0].sources, (std::array<std::string, 4>{"none", "none", "none", "bars"}));
        EXPECT_TRUE(c.heronAudio.empty());
        EXPECT_EQ(c.os.major, 10u);
        EXPECT_EQ(c.os.minor, 0u);
        EXPECT_TRUE(c.os.workstation);
        EXPECT_EQ(c.limits.requestBytes, (16u << 20) + 4096);
        EXPECT_EQ(c.limits.helloTimeoutMs, 5000u);
        EXPECT_EQ(c.limits.connections, 1024u);
        EXPECT_EQ(c.limits.threadsPerProcess, 128u);
        EXPECT_EQ(c.limits.handlesPerProcess, 4096u);
        EXPECT_EQ(c.limits.namedObjectsPerProcess, 256u);
        EXPECT_EQ(c.limits.viewsPerProcess, 1024u);
        EXPECT_EQ(c.limits.contiguousMbPerProcess, 128u);
        EXPECT_FALSE(c.kernel.verifier);
        EXPECT_EQ(c.kernel.drainTimeoutMs, 20000u);
        EXPECT_EQ(c.kernel.driverTimeoutMs, 10000u);
    }
}

TEST(MachineConfigFile, EveryKeyIsRead) {
    MachineConfig c = parsed(R"(
[clock]
factor = 25
[display]
width = 800
height = 600
bits = 15
bus = 2
[memory]
ram_mb = 512
[os]
version = "6.1"
workstation = false
[limits]
request_bytes = 65536
hello_timeout_ms = 250
connections = 16
threads_per_process = 3
handles_per_process = 5
named_objects_per_process = 6
views_per_process = 7
contiguous_mb_per_process = 9
[kernel]
verifier = true
drain_timeout_ms = 1500
driver_timeout_ms = 250
[[terncard]]
signature = false
revision = 0x30
switch = 3
sources = ["bars", "stamp:42", "image:/tmp/a.bmp", "stamp"]
[[terncard]]
[[heron_audio]]
rate = 1500
port = true
[[heron_audio]]
)");
    EXPECT_EQ(c.clockFactor, 25.0);
    EXPECT_EQ(c.display.width, 800u);
    EXPECT_EQ(c.display.height, 600u);
    EXPECT_EQ(c.display.bits, 15u);
    EXPECT_EQ(c.display.bus, 2u);
    EXPECT_EQ(c.ramMb, 512u);
    EXPECT_EQ(c.os.major, 6u);
    EXPECT_EQ(c.os.minor, 1u);
    EXPECT_FALSE(c.os.workstation);
    EXPECT_EQ(c.limits.requestBytes, 65536u);
    EXPECT_EQ(c.limits.helloTimeoutMs, 250u);
    EXPECT_EQ(c.limits.connections, 16u);
    EXPECT_EQ(c.limits.threadsPerProcess, 3u);
    EXPECT_EQ(c.limits.handlesPerProcess, 5u);
    EXPECT_EQ(c.limits.namedObjectsPerProcess, 6u);
    EXPECT_EQ(c.limits.viewsPerProcess, 7u);
    EXPECT_EQ(c.limits.contiguousMbPerProcess, 9u);
    EXPECT_TRUE(c.kernel.verifier);
    EXPECT_EQ(c.kernel.drainTimeoutMs, 1500u);
    EXPECT_EQ(c.kernel.driverTimeoutMs, 250u);
    ASSERT_EQ(c.terncards.size(), 2u);
    EXPECT_FALSE(c.terncards[0].signature);
    EXPECT_EQ(c.terncards[0].revision, 0x30);
    EXPECT_EQ(c.terncards[0].boardSwitch, 3);
    EXPECT_EQ(c.terncards[0].sources, (std::array<std::string, 4>{"bars", "stamp:42", "image:/tmp/a.bmp", "stamp"}));
    EXPECT_EQ(c.terncards[1].revision, 0x21);  // a bare table takes the defaults
    ASSERT_EQ(c.heronAudio.size(), 2u);
    EXPECT_EQ(c.heronAudio[0].rate, 1500.0);
    EXPECT_TRUE(c.heronAudio[0].port);
    EXPECT_EQ(c.heronAudio[1].rate, 375.0);  // 48 kHz in blocks of 128 samples
    EXPECT_FALSE(c.heronAudio[1].port);
}

TEST(MachineConfigFile, EmptyCardArrayMeansNoCard) {
    EXPECT_TRUE(parsed("terncard = []\n").terncards.empty());
}

TEST(MachineConfigFile, ErrorsNameFileLineAndKey) {
    EXPECT_EQ(errorOf("[display]\nwidth = 800\nbits = 12\n"),
              "m.toml:3: key 'display.bits': must be one of 8, 15, 16, 24, 32 (got 12)");
    EXPECT_EQ(errorOf("[display]\nwidth = \"wide\"\n"), "m.toml:2: key 'display.width': must be an integer");
    EXPECT_EQ(errorOf("\n[memory]\nram_mb = 8\n"), "m.toml:3: key 'memory.ram_mb': must be between 16 and 3072 (got 8)");
    EXPECT_EQ(errorOf("[clock]\nfactor = 0.0\n"), "m.toml:2: key 'clock.factor': must be greater than 0 and at most 1000");
    EXPECT_EQ(errorOf("[display]\ncolour = 1\n"), "m.toml:2: unknown key 'display.colour'");
    EXPECT_EQ(errorOf("[kernel]\nverifier = 1\n"), "m.toml:2: key 'kernel.verifier': must be true or false");
    EXPECT_EQ(errorOf("[sound]\n"), "m.toml:1: unknown key 'sound'");
    EXPECT_EQ(errorOf("[[terncard]]\nswitch = 4\n"), "m.toml:2: key 'terncard[0].switch': must be between 0 and 3 (got 4)");
    EXPECT_EQ(errorOf("[[terncard]]\n[[terncard]]\nsources = [\"bars\", \"tv\", \"none\", \"none\"]\n"),
              "m.toml:3: key 'terncard[1].sources': input 1 must be \"bars\", \"stamp\", \"stamp:ID\" (ID 0-255), \"none\" "
              "or \"image:PATH\" (got \"tv\")");
    EXPECT_EQ(errorOf("[[terncard]]\nsources = [\"none\", \"none\", \"none\", \"stamp:256\"]\n"),
              "m.toml:2: key 'terncard[0].sources': input 3 must be \"bars\", \"stamp\", \"stamp:ID\" (ID 0-255), \"none\" "
              "or \"image:PATH\" (got \"stamp:256\")");
    EXPECT_EQ(errorOf("[[terncard]]\nsources = [\"bars\"]\n"),
              "m.toml:2: key 'terncard[0].sources': must be an array of four strings");
    EXPECT_EQ(errorOf("[[terncard]]\nsignature = 1\n"), "m.toml:2: key 'terncard[0].signature': must be true or false");
    EXPECT_EQ(errorOf("[[heron_audio]]\nirq = 5\n"), "m.toml:2: unknown key 'heron_audio[0].irq'");
    EXPECT_EQ(errorOf("[[heron_audio]]\nrate = 0.5\n"),
              "m.toml:2: key 'heron_audio[0].rate': must be between 1 and 100000 blocks per second");
    EXPECT_EQ(errorOf("[[heron_audio]]\nrate = \"fast\"\n"), "m.toml:2: key 'heron_audio[0].rate': must be a number");
    EXPECT_EQ(errorOf("[[heron_audio]]\nport = 1\n"), "m.toml:2: key 'heron_audio[0].port': must be true or false");
    EXPECT_EQ(errorOf("[os]\nversion = \"ten\"\n"), "m.toml:2: key 'os.version': must look like \"10.0\" (got \"ten\")");
    EXPECT_EQ(errorOf("terncard = 3\n"), "m.toml:1: key 'terncard': must be an array of tables ([[terncard]])");
}

TEST(MachineConfigFile, SyntaxErrorNamesTheLine) {
    std::string error = errorOf("[display]\nwidth = 800\nheight = = 3\n");
    EXPECT_EQ(error.rfind("m.toml:3: syntax error: ", 0), 0u) << error;
}

TEST(MachineConfigFile, MissingFileIsAnError) {
    MachineConfig c;
    std::string error;
    EXPECT_FALSE(lxm::loadMachineConfig("/nonexistent/machine.toml", &c, &error));
    EXPECT_EQ(error, "/nonexistent/machine.toml: cannot open the configuration file");
}

}  // namespace
