// Tests of the engine against a sound server that hangs, and one that goes away and comes back.
#include "fake_alsa.h"

namespace {

using namespace support;
using namespace fault;

class EngineStuck : public EngineFaults, public ::testing::WithParamInterface<fake_device::call> {};

// A hung server holds alsa-lib's open, drop or close for ever. The close comes back while the
// thread is still inside, no thread opens the PCM again while it is stuck, and once the server
// answers the thread frees its PCM itself and the next track plays.
TEST_P(EngineStuck, ACloseLetsTheThreadGo) {
    const fake_device::call call = GetParam();
    set([&](fake_device &d) { d.block = call; });
    ASSERT_EQ(play(id), 0u);
    ASSERT_TRUE(
        fake.await([&] { return call == fake_device::open ? fake.inside : fake.writes > 0; }));
    ASSERT_EQ(close_device(id), 0u);
    EXPECT_TRUE(fake.await([this] { return fake.inside; })) << "the close waited for the thread";

    ASSERT_EQ(open_file("waveaudio", dir / "t.wav", id), 0u);
    ASSERT_EQ(play(id), 0u);
    ASSERT_EQ(close_device(id), 0u);
    EXPECT_EQ(fake.opens, 1);

    // The thread's file is closed last of all, once it has come back.
    const int files = fake.files_closed;
    set([](fake_device &d) { d.block = fake_device::none; });
    EXPECT_TRUE(fake.await([&] { return fake.closes == 1 && fake.files_closed > files; }));
    ASSERT_EQ(open_file("waveaudio", dir / "t.wav", id), 0u);
    ASSERT_EQ(play(id), 0u);
    EXPECT_TRUE(fake.await([this] { return fake.opens == 2; }));
}

INSTANTIATE_TEST_SUITE_P(Calls, EngineStuck,
                         ::testing::Values(fake_device::open, fake_device::drop,
                                           fake_device::close));

// A server gone mid-track fails the write (EIO, as the pulse PCM's does); the PCM is opened again
// twice a second until the server is back, and the track goes on from where its clock has come
// to, so that what the user hears keeps step with the time the player shows.
TEST_F(EngineFaults, ALostDeviceComesBackWhereTheClockIs) {
    set([](fake_device &d) { d.fail_at = 3, d.fault = -EIO, d.open_refusals = 2; });
    polls = 0;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(play(id, mci::wait), 0u);
    EXPECT_LT(polls, 20);
    std::lock_guard<std::mutex> lock(fake.mutex);
    EXPECT_EQ(fake.opens, 4);
    const std::chrono::duration<double> lost_for = fake.reopened - started;
    const auto before = static_cast<long>(2 * 8000 * 2); // two periods' writes in bytes
    ASSERT_GE(static_cast<long>(fake.heard.size()), before);
    const long after = static_cast<long>(fake.heard.size()) - before;
    const long from = static_cast<long>(track.size()) - after;
    EXPECT_NEAR(from / 2, lost_for.count() * 8000, 2000);
    EXPECT_TRUE(std::equal(fake.heard.begin(), fake.heard.begin() + before, track.begin()));
    EXPECT_TRUE(std::equal(fake.heard.begin() + before, fake.heard.end(), track.begin() + from));
}

} // namespace
