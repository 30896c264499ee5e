// The Windows console's output: the program's own UTF-8 texts recoded, and a notice of trouble.
#pragma once

#include <string>

namespace plat {

constexpr unsigned shift_jis = 932;

// The code page that write_text writes in: the console's output code page when standard output
// is a console, otherwise Shift-JIS, the texts' own code page.
unsigned text_code_page();

// The UTF-8 text in the given code page; characters it lacks become its default character.
// 65001 (UTF-8) returns the text unchanged.
std::string text_in_code_page(const char *utf8, unsigned code_page);

// Writes the line to standard error, the first time only. On a console whose cursor is not at the
// start of a line, it goes on a line of its own, and the line it broke is written again after it.
void notify(const char *line);

} // namespace plat
