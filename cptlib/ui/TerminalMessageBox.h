#pragma once
// Message boxes as text, for runs without a window: the box is written to a stream, and a
// question is answered at a prompt when one can be read.

#include "cptlib/ui/MessageBox.h"

#include <iosfwd>

namespace cptlib {

class TerminalMessageBox : public IMessageBoxPresenter {
public:
    // stderr, with stdin as the prompt when both are terminals.
    TerminalMessageBox();
    // `in` null: nobody can answer.
    TerminalMessageBox(std::istream* in, std::ostream& out);

    int Show(const MessageBoxContent& box) override;

private:
    std::istream* in_;
    std::ostream& out_;
};

// The text of a button caption without its "&" accelerator marker ("&&" stays one "&").
std::string StripAccelerator(const std::string& caption);

} // namespace cptlib
