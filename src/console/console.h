// The console front end: command reader, time display, help screen, and the output they share.
#pragma once

#include <cstddef>
#include <cstdint>

// Command codes that read_cmd returns; numbers come as 10 + their value.
namespace cmd_code {
constexpr std::int32_t loop = -4;
constexpr std::int32_t shuffle = -3;
constexpr std::int32_t help = -2;
constexpr std::int32_t before = -1;
constexpr std::int32_t none = 0;
constexpr std::int32_t next = 1;
constexpr std::int32_t exit = 2;
constexpr std::int32_t ls = 3;
constexpr std::int32_t time = 4;
constexpr std::int32_t alloop = 5;
constexpr std::int32_t pause = 6;
constexpr std::int32_t number_base = 10;
constexpr std::int32_t number_last = 60; // track 50
} // namespace cmd_code

std::int32_t read_cmd();
void show_time(std::int32_t elapsed, std::int32_t length);
void print_bar(std::int32_t elapsed, std::int32_t length);
void show_help();

// The command line's answers: the usage and the version on standard output; a line of usage, or
// a path and the reason it cannot be played, on standard error.
void show_usage();
void show_version();
void show_misuse();
void complain(const char *path, const char *reason);

// Formats like printf and writes at once; for the program's ASCII texts and numbers.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void say(const char *format, ...);

// Writes a file name up to (not including) its last '.', or whole when it has none, masked.
void say_name(const char *entry);
