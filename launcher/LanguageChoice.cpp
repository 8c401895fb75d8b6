#include "launcher/LanguageChoice.h"

#include "cptlib/Utf.h"
#include "cptlib/platform/Terminal.h"
#include "cptlib/platform/TerminalInput.h"
#include "cptlib/ui/MessageBox.h"
#include "cptlib/ui/TerminalMessageBox.h"

#include <algorithm>
#include <charconv>
#include <iostream>
#include <string_view>
#include <vector>

namespace sfx {

namespace {

// Base letters of U+00C0..U+017F ('.' for a sign): an accented letter sorts with its base
// letter, as in a dictionary, so "Čeština" comes before "Dansk".
constexpr std::string_view kLatinBaseLetters = "AAAAAAACEEEEIIIIDNOOOOO.OUUUUYTs"
                                               "aaaaaaaceeeeiiiidnooooo.ouuuuyty"
                                               "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGg"
                                               "GgGgHhHhIiIiIiIiIiIiJjKkkLlLlLlL"
                                               "lLlNnNnNnnNnOoOoOoOoRrRrRrSsSsSs"
                                               "SsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs";

std::u32string SortKey(const std::string& name) {
    std::u32string key;
    for (char32_t cp : cptlib::DecodeUtf8(name).value_or(std::u32string())) {
        if (cp >= 0xC0 && cp - 0xC0 < kLatinBaseLetters.size() &&
            kLatinBaseLetters[cp - 0xC0] != '.')
            cp = static_cast<unsigned char>(kLatinBaseLetters[cp - 0xC0]);
        key += cptlib::ToLowerCodePoint(cp);
    }
    return key;
}

bool DisplayNameLess(const std::string& a, const std::string& b) {
    const std::u32string keyA = SortKey(a);
    const std::u32string keyB = SortKey(b);
    if (keyA != keyB)
        return keyA < keyB;
    return cptlib::CompareNoCase(a, b) < 0;
}

// The line preselected for `selectedCulture`: the search starts after the first line and comes
// back to it last; the first line also serves when nothing matches. Names compare whole, so an
// unknown culture's empty name does not pick the next named line as a prefix search would.
std::size_t DefaultLine(const std::vector<std::string>& names, const cptlib::CultureMap& cultures,
                        const std::string& selectedCulture) {
    const auto it = cultures.find(selectedCulture);
    const std::string wanted = it != cultures.end() ? it->second : std::string();
    for (std::size_t i = 1; i < names.size(); ++i)
        if (cptlib::EqualsNoCase(names[i], wanted))
            return i;
    return 0;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

std::vector<std::string> SortedDisplayNames(const cptlib::CultureMap& cultures) {
    std::vector<std::string> names;
    for (const auto& entry : cultures)
        names.push_back(entry.second);
    std::stable_sort(names.begin(), names.end(), DisplayNameLess);
    return names;
}

int PromptForLanguage(const cptlib::CultureMap& cultures, std::string& selectedCulture,
                      const cptlib::IStringResources& strings, std::istream& in,
                      std::ostream& out) {
    const std::vector<std::string> names = SortedDisplayNames(cultures);
    // Nothing to choose from: the automatic choice stands rather than ending the run.
    if (names.empty())
        return cptlib::kIdOk;
    const std::size_t defaultLine = DefaultLine(names, cultures, selectedCulture);

    out << "\n[" << strings.GetText("LanguageSelectionTitle") << "]\n"
        << strings.GetText("LanguageSelection") << "\n";
    for (std::size_t i = 0; i < names.size(); ++i)
        out << (i == defaultLine ? "* " : "  ") << (i + 1) << ") " << names[i] << "\n";

    std::size_t chosen = names.size();
    while (chosen == names.size()) {
        out << "1-" << names.size() << " [" << (defaultLine + 1)
            << "], q = " << cptlib::StripAccelerator(strings.GetText("Cancel")) << ": ";
        out.flush();
        std::string line;
        in.clear();
        if (!std::getline(in, line)) {
            out << "\n";
            return cptlib::kIdCancel;
        }
        const std::string answer = Trimmed(line);
        if (answer.empty()) {
            chosen = defaultLine;
        } else if (answer == "q" || answer == "Q") {
            return cptlib::kIdCancel;
        } else {
            std::size_t number = 0;
            const auto [end, error] =
                std::from_chars(answer.data(), answer.data() + answer.size(), number);
            if (error == std::errc() && end == answer.data() + answer.size() && number >= 1 &&
                number <= names.size())
                chosen = number - 1;
        }
    }

    // Confirming the preselected line keeps the automatic culture even when another culture
    // shares its display name (two unknown cultures both show an empty line).
    if (const auto it = cultures.find(selectedCulture);
        it != cultures.end() && it->second == names[chosen])
        return cptlib::kIdOk;
    selectedCulture.clear();
    for (const auto& [culture, displayName] : cultures) {
        if (displayName == names[chosen]) {
            selectedCulture = culture;
            break;
        }
    }
    return cptlib::kIdOk;
}

int RunLanguageDialog(const cptlib::CultureMap& cultures, std::string& selectedCulture,
                      const cptlib::IStringResources& strings) {
    if (!cptlib::platform::StdinIsTerminal() || !cptlib::platform::StderrIsTerminal())
        return cptlib::kIdOk;
    return PromptForLanguage(cultures, selectedCulture, strings, cptlib::platform::TerminalIn(),
                             std::cerr);
}

} // namespace sfx
