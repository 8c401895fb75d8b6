#include "cptlib/ui/TerminalMessageBox.h"

#include "cptlib/DisplayText.h"
#include "cptlib/Utf.h"
#include "cptlib/platform/Terminal.h"
#include "cptlib/platform/TerminalInput.h"

#include <iostream>
#include <string>

namespace cptlib {

namespace {

std::string IconWord(IconKind kind, const IStringResources* strings) {
    switch (kind) {
    case IconKind::Error:
        return TerminalText(strings, "TerminalError", "Error");
    case IconKind::Warning:
        return TerminalText(strings, "TerminalWarning", "Warning");
    case IconKind::Question:
        return TerminalText(strings, "TerminalQuestion", "Question");
    case IconKind::Information:
        return TerminalText(strings, "TerminalInformation", "Information");
    default:
        return {};
    }
}

// The first character of `text`, lower case; 0 for empty text.
char32_t FirstLetter(const std::string& text) {
    if (text.empty())
        return 0;
    char32_t code = 0;
    DecodeUtf8At(text, 0, code);
    return ToLowerCodePoint(code);
}

// The first character of `word` as text; `fallback` for an empty word.
std::string FirstLetterOf(const std::string& word, const char* fallback) {
    char32_t code = 0;
    const std::size_t length = word.empty() ? 0 : DecodeUtf8At(word, 0, code);
    return length == 0 ? fallback : word.substr(0, length);
}

bool IsYesNo(const std::vector<ButtonSpec>& buttons) {
    return buttons.size() == 2 && buttons[0].id == kIdYes && buttons[1].id == kIdNo;
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

std::string TerminalText(const IStringResources* strings, const char* id, const char* english) {
    std::string text = strings != nullptr ? strings->GetText(id) : std::string();
    return text.empty() ? english : text;
}

std::string FillIn(const std::string& format, const std::vector<std::string>& values) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            const char kind = format[i + 1];
            if (kind == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (kind == 's' || kind == 'd') {
                if (next < values.size())
                    out += values[next++];
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

bool AnswersCaption(const std::string& answer, const std::string& caption) {
    const std::string word = StripAccelerator(caption);
    if (EqualsNoCase(word, answer))
        return true;
    char32_t code = 0;
    // One character, the word's first.
    return !answer.empty() && DecodeUtf8At(answer, 0, code) == answer.size() &&
           ToLowerCodePoint(code) == FirstLetter(word);
}

TerminalMessageBox::TerminalMessageBox(const IStringResources* strings)
    : in_(platform::StdinIsTerminal() && platform::StderrIsTerminal() ? &platform::TerminalIn()
                                                                      : nullptr),
      out_(std::cerr), strings_(strings) {}

TerminalMessageBox::TerminalMessageBox(std::istream* in, std::ostream& out,
                                       const IStringResources* strings)
    : in_(in), out_(out), strings_(strings) {}

int TerminalMessageBox::Show(const MessageBoxContent& box) {
    std::vector<ButtonSpec> buttons = box.buttons;
    if (buttons.empty())
        buttons.push_back({kIdOk, false, TerminalText(strings_, "OK", "OK")});

    std::string title = box.caption;
    if (const std::string word = IconWord(box.iconKind, strings_); !word.empty())
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
             << (i == defaultIndex ? " " + TerminalText(strings_, "TerminalDefault", "(default)")
                                   : std::string())
             << "\n";
    if (in_ == nullptr) {
        out_.flush();
        return 0;
    }
    const bool yesNo = IsYesNo(buttons);
    for (;;) {
        if (yesNo) {
            const std::string yes = FirstLetterOf(StripAccelerator(buttons[0].text), "y");
            const std::string no = FirstLetterOf(StripAccelerator(buttons[1].text), "n");
            out_ << FillIn(TerminalText(strings_, "TerminalYesNo", "Answer (%s/%s) [%s]:"),
                           {yes, no, defaultIndex == 0 ? yes : no});
        } else {
            out_ << FillIn(TerminalText(strings_, "TerminalChoose", "Choose 1-%d [%d]:"),
                           {std::to_string(buttons.size()), std::to_string(defaultIndex + 1)});
        }
        out_ << " ";
        out_.flush();
        std::string line;
        // A prompt that Ctrl+C ended before leaves the stream at its end.
        in_->clear();
        if (!std::getline(*in_, line)) {
            // End of input (or Ctrl+C) is the Esc of a terminal; a box without Cancel has no such
            // answer.
            if (box.flags & MBF_NO_CLOSE) {
                out_ << "\n";
                return 0;
            }
            out_ << "\n" << TerminalText(strings_, "TerminalCancelled", "Cancelled.") << "\n";
            return kIdCancel;
        }
        if (line.empty())
            return buttons[defaultIndex].id;
        try {
            const std::size_t choice = std::stoul(line);
            if (choice >= 1 && choice <= buttons.size())
                return buttons[choice - 1].id;
        } catch (const std::exception&) {
        }
        if (yesNo) {
            if (EqualsNoCase(line, "y") || EqualsNoCase(line, "yes") ||
                AnswersCaption(line, buttons[0].text))
                return kIdYes;
            if (EqualsNoCase(line, "n") || EqualsNoCase(line, "no") ||
                AnswersCaption(line, buttons[1].text))
                return kIdNo;
        }
        // The caption itself is an answer too.
        for (const auto& button : buttons)
            if (EqualsNoCase(StripAccelerator(button.text), line))
                return button.id;
    }
}

} // namespace cptlib
