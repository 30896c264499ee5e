// The command reader: which word gives which code, how words are taken from the typed line.
#include "console/console.h"
#include "device/device.h"
#include "harness.h"

using CommandReaderTest = PlayerTest;

namespace {
std::int32_t code_of(const std::string &typed) {
    fake::reset();
    fake::type_at(t0, typed);
    return read_cmd();
}
} // namespace

TEST_F(CommandReaderTest, WordsAndTheirCodes) {
    struct row {
        const char *typed;
        std::int32_t code;
    };
    for (row r :
         {row{"next", 1},  row{"n", 1},        row{"nope", 1},  row{"nine", 1},  row{"N", 0},
          row{"Next", 0},  row{"before", -1},  row{"b", -1},    row{"back", -1}, row{"befor", -1},
          row{"B", 0},     row{"exit", 2},     row{"ls", 3},    row{"time", 4},  row{"alloop", 5},
          row{"help", -2}, row{"shuffle", -3}, row{"loop", -4}, row{"LS", 0},    row{"shuf", 0},
          row{"times", 0}, row{"exitx", 0},    row{"x", 0},     row{"-1", 0},    row{"+1", 0}}) {
        EXPECT_EQ(code_of(std::string(r.typed) + "\n"), r.code) << r.typed;
    }
}

TEST_F(CommandReaderTest, NumbersAreTenPlusTheirLeadingDigits) {
    struct row {
        const char *typed;
        std::int32_t code;
    };
    for (row r : {row{"0", 10}, row{"7", 17}, row{"007", 17}, row{"12abc", 22}, row{"3.5", 13},
                  row{"50", 60}, row{"51", 61}, row{"99", 109}}) {
        EXPECT_EQ(code_of(std::string(r.typed) + "\n"), r.code) << r.typed;
    }
    // Far too large for 32 bits: a code the dispatch ignores, without overflow.
    for (const char *huge :
         {"2147483637", "2147483638", "2147483647", "99999999999999999999", "4294967306"}) {
        std::int32_t code = code_of(std::string(huge) + "\n");
        EXPECT_GT(code, 60) << huge;
    }
}

TEST_F(CommandReaderTest, WordsAreTakenFromTheTypedLineOneAtATime) {
    fake::type_at(t0, "\n\n   time ls\n");
    EXPECT_EQ(read_cmd(), 4);
    EXPECT_EQ(read_cmd(), 3);
    // Input has ended: no word, nothing happens, and nothing blocks.
    EXPECT_EQ(read_cmd(), 0);
}

TEST_F(CommandReaderTest, AnOverlongWordIsCutAndItsRestDropped) {
    fake::type_at(t0, std::string(300, 'n') + " ls\n" + std::string(400, '9') + "\n");
    EXPECT_EQ(read_cmd(), 1);
    EXPECT_EQ(read_cmd(), 3);
    EXPECT_GT(read_cmd(), 60);
    EXPECT_EQ(read_cmd(), 0);
}

TEST_F(CommandReaderTest, StopClosesTheDeviceThenWaitsForAFreshKey) {
    fake::set_folder({"a.wav"});
    play_file("a.wav", nullptr, 0);
    ASSERT_NE(current_device_id(), 0u);
    fake::type_at(t0, "stop\n");
    fake::type_at(t0 + 30000, "k");
    EXPECT_EQ(read_cmd(), 1);
    EXPECT_EQ(current_device_id(), 0u);
    EXPECT_EQ(fake::open_devices(), 0);
    // The line end left by "stop" does not count as the key.
    EXPECT_EQ(fake::clock_ms(), t0 + 30000);
}
