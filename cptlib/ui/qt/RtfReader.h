#pragma once
// A reader for the subset of rich text that the program writes and that users put into their
// message texts, producing Qt rich text (HTML).

#include <string>
#include <string_view>

namespace cptlib {

// Understood: groups, \b \i \ul (with 0 to switch off, \ulnone, \plain), \par, \line, \tab,
// \uN with the \ucN skip count, \'hh, the escapes \\ \{ \}, \~ \- \_, quote and dash words,
// HYPERLINK fields (as links), hidden text \v (left out), and ignorable or known destinations
// (skipped). Unknown control words are skipped. Never throws on malformed input; unbalanced
// groups, cut-off escapes and stray bytes are read as well as they can be.
// "{\urtf" text and raw bytes are UTF-8; \'hh in "{\rtf1" text is Windows-1252.
std::string RtfToQtHtml(std::string_view rtf);

// Whether the text is rich text ("{\rtf1" or "{\urtf" at the start).
bool IsRichText(std::string_view text);

} // namespace cptlib
