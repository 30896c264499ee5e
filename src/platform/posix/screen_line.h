// The line the player's output has left the cursor on, kept by the terminal to draw it again.
#pragma once

#include <cstddef>

namespace posix {

// Called with every byte written to standard output.
void note_output(const char *bytes, std::size_t count);

} // namespace posix
