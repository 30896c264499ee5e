// Recoding of the program's own UTF-8 texts for the Windows console or for redirected output.
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

} // namespace plat
