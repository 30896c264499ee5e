// The fuzz targets' check: a broken expectation is a finding, named before libFuzzer keeps the
// input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define REQUIRE(holds)                                                                             \
    ((holds)                                                                                       \
         ? (void)0                                                                                 \
         : (std::fprintf(stderr, "%s:%d: expectation failed: %s\n", __FILE__, __LINE__, #holds),   \
            std::abort()))
