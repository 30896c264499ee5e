// Shared helpers for the unit tests: a fresh fake platform per test and short ways to script it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fake/fake_platform.h"

// Virtual start time: a whole second, so a track of L seconds lasts exactly L + 1 seconds.
constexpr std::int64_t t0 = 1'700'000'000'000;

inline std::vector<std::string> track_names(int n) {
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "t%02d.wav", i);
        names.emplace_back(name);
    }
    return names;
}

// Each test starts with a clean fake platform on a whole second, tracks of 3 s.
class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        fake::set_clock_ms(t0);
    }
    // Virtual time at which the k-th track (from 0) starts when nothing interrupts: 4 s each.
    static std::int64_t track_start(int k) { return t0 + 4000LL * k; }
    static int count(const std::string &haystack, const std::string &needle) {
        int n = 0;
        for (std::size_t at = haystack.find(needle); at != std::string::npos;
             at = haystack.find(needle, at + 1))
            ++n;
        return n;
    }
    static int count_in_trace(const std::string &event) {
        int n = 0;
        for (const std::string &e : fake::trace())
            n += e == event;
        return n;
    }
};
