#pragma once
// The rich text of a message box: composed from plain text, with link markers turned into
// hyperlink fields.

#include "cptlib/ui/LinkMarkers.h"

#include <string>

namespace cptlib {

// A text that is not rich text already becomes "{\urtf" + the bold main instruction + the
// escaped content; rich text is kept as it is (and shows no main instruction). Text that is
// not valid UTF-8 becomes empty.
std::string ComposeMessageRtf(const std::string& mainInstruction, const std::string& content);

// Backslash and braces escaped, tabs and line feeds as control words, carriage returns
// dropped.
std::string EscapeRtf(const std::string& text);

} // namespace cptlib
