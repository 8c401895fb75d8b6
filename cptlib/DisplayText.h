#pragma once
// Text from outside the program (item names, paths, output of other programs) made safe to
// show: a terminal must not take its bytes for commands (retitle, clear the screen), and a log
// reader must see what was there.

#include <string>
#include <string_view>

namespace cptlib {

// `text` with every control character escaped: C0 and DEL as "\xNN" (ESC is "\x1b"), C1 controls
// and the characters that reorder text on screen as "\uNNNN", and each byte that is not part
// of valid UTF-8 as "\xNN". Printable characters, backslash included, stay as they are.
std::string DisplayName(std::string_view text);

// As DisplayName, but line breaks and tabs stay: for whole messages and log records.
std::string DisplayText(std::string_view text);

} // namespace cptlib
