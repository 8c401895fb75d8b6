#include "cptlib/ui/TerminalMessageBox.h"

#include "cptlib/DisplayText.h"
#include "cptlib/Utf.h"
#include "cptlib/platform/Terminal.h"
#include "cptlib/platform/TerminalInput.h"

#include <algorithm>
#include <iostream>
#include <string>
#include <string_view>

namespace cptlib {

namespace {

std::string Trim(const std::string& text) {
    constexpr const char* kBlanks = " \t\r";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

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

// A question of two answers, the first one saying yes (Yes, OK), the second no (No, Cancel): the
// language's yes and no words answer it.
bool IsYesNo(const std::vector<ButtonSpec>& buttons) {
    return buttons.size() == 2 && (buttons[0].id == kIdYes || buttons[0].id == kIdOk) &&
           (buttons[1].id == kIdNo || buttons[1].id == kIdCancel);
}

// The "|"-separated words of `id`; the English ones are understood in every language.
std::vector<std::string> AnswerWords(const IStringResources* strings, const char* id,
                                     const char* english) {
    std::vector<std::string> words;
    const std::string own = strings != nullptr ? strings->GetText(id) : std::string();
    for (const std::string& list : {own, std::string(english)}) {
        std::size_t start = 0;
        while (start <= list.size()) {
            const std::size_t end = std::min(list.find('|', start), list.size());
            std::string word = list.substr(start, end - start);
            if (!word.empty() && std::find(words.begin(), words.end(), word) == words.end())
                words.push_back(std::move(word));
            start = end + 1;
        }
    }
    return words;
}

bool IsOneOf(const std::string& answer, const std::vector<std::string>& words) {
    return std::any_of(words.begin(), words.end(),
                       [&answer](const std::string& word) { return EqualsNoCase(answer, word); });
}

bool IsSpace(char32_t c) {
    return c == U' ' || c == U'\t' || c == 0x3000;
}

// Punctuation that must not begin a line (Japanese and Chinese rules, and the Latin marks).
bool ClosesPhrase(char32_t c) {
    static constexpr std::u32string_view kClosing = U"、。，．・：；？！）」』】〕〉》”’.,;:!?)]}%";
    return kClosing.find(c) != std::u32string_view::npos;
}

std::string WrapLine(const std::string& line, int columns) {
    const std::u32string points = DecodeUtf8(line).value_or(std::u32string());
    if (points.empty() || platform::DisplayColumns(line) <= columns)
        return line;
    // Continuation lines keep the line's indentation, unless it would leave too little room.
    std::size_t indentEnd = 0;
    while (indentEnd < points.size() && IsSpace(points[indentEnd]))
        ++indentEnd;
    std::u32string indent = points.substr(0, indentEnd);
    if (platform::DisplayColumns(EncodeUtf8(indent)) * 2 > columns)
        indent.clear();
    // Units the line may break between: words, single wide characters, each with the closing
    // punctuation that follows it.
    std::vector<std::u32string> units;
    std::vector<bool> spaceBefore;
    bool space = false;
    for (std::size_t i = indentEnd; i < points.size(); ++i) {
        const char32_t c = points[i];
        if (IsSpace(c)) {
            space = true;
            continue;
        }
        const bool wide = platform::DisplayColumns(EncodeUtf8(std::u32string(1, c))) > 1;
        const bool joins =
            !units.empty() && !space &&
            (ClosesPhrase(c) || (!wide && platform::DisplayColumns(EncodeUtf8(
                                              units.back().substr(units.back().size() - 1))) <= 1));
        if (joins) {
            units.back() += c;
        } else {
            units.emplace_back(1, c);
            spaceBefore.push_back(space);
        }
        space = false;
    }
    std::string out = EncodeUtf8(points.substr(0, indentEnd));
    int used = platform::DisplayColumns(out);
    const int indentWidth = platform::DisplayColumns(EncodeUtf8(indent));
    bool lineEmpty = true;
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::string unit = EncodeUtf8(units[i]);
        const int width = platform::DisplayColumns(unit);
        const int gap = spaceBefore[i] && !lineEmpty ? 1 : 0;
        if (!lineEmpty && used + gap + width > columns) {
            out += "\n" + EncodeUtf8(indent);
            used = indentWidth;
            lineEmpty = true;
        } else if (gap != 0) {
            out += ' ';
            used += 1;
        }
        // A word longer than a whole line is cut where the line ends.
        for (const char32_t c : units[i]) {
            const std::string one = EncodeUtf8(std::u32string(1, c));
            const int w = platform::DisplayColumns(one);
            if (!lineEmpty && used + w > columns) {
                out += "\n" + EncodeUtf8(indent);
                used = indentWidth;
            }
            out += one;
            used += w;
            lineEmpty = false;
        }
    }
    return out;
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

std::string WrapToColumns(const std::string& text, int columns) {
    if (columns < 10)
        return text;
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        out += WrapLine(text.substr(start, end == std::string::npos ? end : end - start), columns);
        if (end == std::string::npos)
            return out;
        out += '\n';
        start = end + 1;
    }
}

TerminalMessageBox::TerminalMessageBox(const IStringResources* strings)
    : in_(platform::StdinIsTerminal() && platform::StderrIsTerminal() ? &platform::TerminalIn()
                                                                      : nullptr),
      out_(std::cerr), strings_(strings), columns_([] { return platform::StderrColumns(); }) {}

TerminalMessageBox::TerminalMessageBox(std::istream* in, std::ostream& out,
                                       const IStringResources* strings,
                                       std::function<int()> columns)
    : in_(in), out_(out), strings_(strings), columns_(std::move(columns)) {}

int TerminalMessageBox::Show(const MessageBoxContent& box) {
    std::vector<ButtonSpec> buttons = box.buttons;
    if (buttons.empty())
        buttons.push_back({kIdOk, false, TerminalText(strings_, "OK", "OK")});

    const int columns = columns_ ? columns_() : 0;
    const auto wrap = [columns](const std::string& text) { return WrapToColumns(text, columns); };
    std::string title = box.caption;
    if (const std::string word = IconWord(box.iconKind, strings_); !word.empty())
        title = title.empty() ? word : title + " - " + word;
    out_ << "\n";
    if (!title.empty())
        out_ << wrap("[" + DisplayName(title) + "]") << "\n";
    if (!box.mainInstruction.empty())
        out_ << wrap(DisplayText(box.mainInstruction)) << "\n\n";
    out_ << wrap(DisplayText(box.content)) << "\n";

    const std::size_t defaultIndex = DefaultIndex(buttons);
    if (buttons.size() == 1) {
        out_ << "  [ " << StripAccelerator(buttons[0].text) << " ]\n";
        out_.flush();
        return in_ != nullptr ? buttons[0].id : 0;
    }
    for (std::size_t i = 0; i < buttons.size(); ++i)
        out_ << wrap("  " + std::to_string(i + 1) + ") " + StripAccelerator(buttons[i].text) +
                     (i == defaultIndex
                          ? " " + TerminalText(strings_, "TerminalDefault", "(default)")
                          : std::string()))
             << "\n";
    if (in_ == nullptr) {
        out_.flush();
        return 0;
    }
    const bool yesNo = IsYesNo(buttons);
    const std::vector<std::string> yesWords = AnswerWords(strings_, "TerminalYesWords", "y|yes");
    const std::vector<std::string> noWords = AnswerWords(strings_, "TerminalNoWords", "n|no");
    for (;;) {
        if (yesNo) {
            // The language's own short words; a first letter could be ambiguous (Japanese).
            const std::string& yes = yesWords.front();
            const std::string& no = noWords.front();
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
        const std::string answer = Trim(line);
        if (answer.empty())
            return buttons[defaultIndex].id;
        if (answer.find_first_not_of("0123456789") == std::string::npos && answer.size() < 4) {
            const std::size_t choice = std::stoul(answer);
            if (choice >= 1 && choice <= buttons.size())
                return buttons[choice - 1].id;
        }
        if (yesNo) {
            if (IsOneOf(answer, yesWords))
                return buttons[0].id;
            if (IsOneOf(answer, noWords))
                return buttons[1].id;
        }
        // The caption itself is an answer too.
        for (const auto& button : buttons)
            if (EqualsNoCase(StripAccelerator(button.text), answer))
                return button.id;
        // Say why the prompt comes again.
        if (yesNo)
            out_ << wrap(FillIn(
                        TerminalText(strings_, "TerminalAnswerYesNo", "Please answer %s or %s."),
                        {yesWords.front(), noWords.front()}))
                 << "\n";
        else
            out_ << wrap(FillIn(TerminalText(strings_, "TerminalAnswerNumber",
                                             "Please answer with a number from 1 to %d."),
                                {std::to_string(buttons.size())}))
                 << "\n";
    }
}

} // namespace cptlib
