#pragma once
// Command-line text in the Windows form: one string that the receiving program splits into its
// arguments. Quoting and splitting are exact inverses, so a setup started from a parameter
// string sees the arguments the launcher meant.

#include <string>
#include <string_view>
#include <vector>

namespace cptlib {

// One argument in the form the splitter reads back as the same argument. Arguments without
// space, tab, line feed, vertical tab or double quote, and not empty, stay as they are;
// others are wrapped in double quotes, with backslashes doubled where they precede a quote or
// the closing quote and inner quotes escaped.
std::string QuoteArgument(std::string_view argument);

// Splits a parameter string by the C runtime's rules as of its 2008 revision (the program name
// gets no special treatment, as the string holds arguments only):
// - space and tab separate arguments outside quotes;
// - 2n backslashes before a double quote give n backslashes and the quote opens or closes
//   quoting; 2n+1 give n backslashes and a literal quote;
// - backslashes not followed by a quote are literal;
// - inside quotes, two double quotes give one literal quote and quoting goes on;
// - an opened quote makes an argument even when it stays empty ("" is one empty argument).
// Works on bytes: UTF-8 sequences never contain the bytes that matter here.
std::vector<std::string> SplitCommandLine(std::string_view parameters);

} // namespace cptlib
