#pragma once
// Message boxes as text, for runs without a window: the box is written to a stream, and a
// question is answered at a prompt when one can be read.

#include "cptlib/ui/MessageBox.h"

#include <functional>
#include <iosfwd>
#include <string>

namespace cptlib {

class TerminalMessageBox : public IMessageBoxPresenter {
public:
    // stderr, with stdin as the prompt when both are terminals. `strings` (may be null: English)
    // words the frame and the prompt in the run's language.
    explicit TerminalMessageBox(const IStringResources* strings = nullptr);
    // `in` null: nobody can answer.
    // `columns` gives the width to wrap the text at (null or 0: no wrapping).
    TerminalMessageBox(std::istream* in, std::ostream& out,
                       const IStringResources* strings = nullptr,
                       std::function<int()> columns = {});

    int Show(const MessageBoxContent& box) override;

private:
    std::istream* in_;
    std::ostream& out_;
    const IStringResources* strings_;
    std::function<int()> columns_;
};

// The text of a button caption without its "&" accelerator marker ("&&" stays one "&").
std::string StripAccelerator(const std::string& caption);

// The text of `id` in `strings`, or `english` where there is none.
std::string TerminalText(const IStringResources* strings, const char* id, const char* english);

// `format` with each "%s" (or "%d") replaced by the next of `values`, "%%" by "%".
std::string FillIn(const std::string& format, const std::vector<std::string>& values);

// `text` with each line broken between words (or between wide characters) so that no line takes
// more than `columns` columns; continuation lines keep the line's indentation. Fewer than 10
// columns (or an unknown width, 0) leave it as it is.
std::string WrapToColumns(const std::string& text, int columns);

} // namespace cptlib
