#include "cptlib/ui/TerminalMessageBox.h"

#include "cptlib/DisplayText.h"
#include "cptlib/platform/Terminal.h"
#include "cptlib/platform/TerminalInput.h"

#include <iostream>
#include <string>

namespace cptlib {

namespace {

const char* IconWord(IconKind kind) {
    switch (kind) {
    case IconKind::Error:
        return "Error";
    case IconKind::Warning:
        return "Warning";
    case IconKind::Question:
        return "Question";
    case IconKind::Information:
        return "Information";
    default:
        return nullptr;
    }
}

std::size_t DefaultIndex(const std::vector<ButtonSpec>& buttons) {
    std::size_t index = 0;
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i].isDefault)
            index = i;
    return index;
}

} // namespace

std::string StripAccelerator(const std::string& caption) {
    std::string out;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size()) {
            ++i;
            out += caption[i];
        } else if (caption[i] != '&') {
            out += caption[i];
        }
    }
    return out;
}

TerminalMessageBox::TerminalMessageBox()
    : in_(platform::StdinIsTerminal() && platform::StderrIsTerminal() ? &platform::TerminalIn()
                                                                      : nullptr),
      out_(std::cerr) {}

TerminalMessageBox::TerminalMessageBox(std::istream* in, std::ostream& out) : in_(in), out_(out) {}

int TerminalMessageBox::Show(const MessageBoxContent& box) {
    std::vector<ButtonSpec> buttons = box.buttons;
    if (buttons.empty())
        buttons.push_back({IDOK, false, "OK"});

    std::string title = box.caption;
    if (const char* word = IconWord(box.iconKind))
        title = title.empty() ? word : title + " - " + word;
    out_ << "\n";
    if (!title.empty())
        out_ << "[" << DisplayName(title) << "]\n";
    if (!box.mainInstruction.empty())
        out_ << DisplayText(box.mainInstruction) << "\n\n";
    out_ << DisplayText(box.content) << "\n";

    const std::size_t defaultIndex = DefaultIndex(buttons);
    if (buttons.size() == 1) {
        out_ << "  [ " << StripAccelerator(buttons[0].text) << " ]\n";
        out_.flush();
        return in_ != nullptr ? buttons[0].id : 0;
    }
    for (std::size_t i = 0; i < buttons.size(); ++i)
        out_ << "  " << (i + 1) << ") " << StripAccelerator(buttons[i].text)
             << (i == defaultIndex ? " (default)" : "") << "\n";
    if (in_ == nullptr) {
        out_.flush();
        return 0;
    }
    for (;;) {
        out_ << "Choose 1-" << buttons.size() << " [" << (defaultIndex + 1) << "]: ";
        out_.flush();
        std::string line;
        // A prompt that Ctrl+C ended before leaves the stream at its end.
        in_->clear();
        if (!std::getline(*in_, line)) {
            // End of input (or Ctrl+C) is the Esc of a terminal; a box without Cancel has no such
            // answer.
            out_ << "\n";
            if (box.flags & MBF_NO_CLOSE)
                return 0;
            return IDCANCEL;
        }
        if (line.empty())
            return buttons[defaultIndex].id;
        try {
            const std::size_t choice = std::stoul(line);
            if (choice >= 1 && choice <= buttons.size())
                return buttons[choice - 1].id;
        } catch (const std::exception&) {
        }
        // The caption itself is an answer too.
        for (const auto& button : buttons)
            if (EqualsNoCase(StripAccelerator(button.text), line))
                return button.id;
    }
}

} // namespace cptlib
