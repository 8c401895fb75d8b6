#pragma once

#include <string>
#include <string_view>

namespace cptlib::platform {

bool StdinIsTerminal();
bool StderrIsTerminal();

// The width of the terminal on stderr now (it changes when the window is resized); 0 when
// unknown.
int StderrColumns();

// Whether the character set of the current locale is UTF-8 (else a terminal may show only
// ASCII reliably).
bool LocaleIsUtf8();

// The columns `text` (UTF-8) takes on a terminal: wide characters (CJK) two, combining marks
// none, characters the locale cannot classify one.
int DisplayColumns(std::string_view text);

// `text` (UTF-8, no line breaks) cut to at most `columns` columns, ending with an ellipsis when
// cut ("…" in a UTF-8 locale, else "..."); `columns` 0 leaves it whole.
std::string FitToColumns(std::string_view text, int columns);

namespace detail {
// The columns one character takes, by the system's own widths.
int CodePointColumns(char32_t code);
} // namespace detail

} // namespace cptlib::platform
