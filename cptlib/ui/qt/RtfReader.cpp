#include "cptlib/ui/qt/RtfReader.h"

#include "cptlib/Utf.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace cptlib {

namespace {

// Windows-1252 at 0x80..0x9F; the rest of the upper half is Latin-1.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

char32_t FromCp1252(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0)
        return kCp1252High[byte - 0x80];
    return byte;
}

constexpr std::size_t kMaxDepth = 512;
constexpr int kMaxWordLength = 32;

enum class Destination { Text, Skip, FieldInstruction, FieldResult };

struct Format {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    friend bool operator==(const Format&, const Format&) = default;
};

struct GroupState {
    Format format;
    bool hidden = false;
    int unicodeSkip = 1;
    Destination destination = Destination::Text;
    bool isField = false;     // this group holds a \field
    bool opensAnchor = false; // this group's end closes a link
    std::size_t fieldIndex = 0;
};

struct Field {
    std::string instruction;
};

void AppendHtmlEscaped(std::string& out, char32_t cp) {
    switch (cp) {
    case '&':
        out += "&amp;";
        break;
    case '<':
        out += "&lt;";
        break;
    case '>':
        out += "&gt;";
        break;
    case '"':
        out += "&quot;";
        break;
    case 0xA0:
        out += "&nbsp;";
        break;
    default:
        AppendUtf8(out, cp);
    }
}

std::string HtmlEscaped(const std::string& utf8) {
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp = 0;
        const std::size_t n = DecodeUtf8At(utf8, i, cp);
        if (n == 0) {
            cp = 0xFFFD;
            i += 1;
        } else {
            i += n;
        }
        AppendHtmlEscaped(out, cp);
    }
    return out;
}

// The address of a HYPERLINK field instruction: the text between the first two quotes, or the
// first word when it is not quoted. Switches such as \l are not part of it.
std::string HyperlinkAddress(const std::string& instruction) {
    std::size_t i = instruction.find_first_not_of(" \t");
    if (i == std::string::npos || instruction.compare(i, 9, "HYPERLINK") != 0)
        return {};
    i = instruction.find_first_not_of(" \t", i + 9);
    if (i == std::string::npos)
        return {};
    if (instruction[i] == '"') {
        const std::size_t end = instruction.find('"', i + 1);
        return instruction.substr(i + 1,
                                  end == std::string::npos ? std::string::npos : end - i - 1);
    }
    const std::size_t end = instruction.find_first_of(" \t", i);
    return instruction.substr(i, end == std::string::npos ? std::string::npos : end - i);
}

class Reader {
public:
    explicit Reader(std::string_view rtf) : in_(rtf) {}

    std::string Run() {
        stack_.push_back({});
        while (pos_ < in_.size() && !finished_) {
            const char c = in_[pos_];
            if (c == '{') {
                ++pos_;
                OpenGroup();
            } else if (c == '}') {
                ++pos_;
                CloseGroup();
            } else if (c == '\\') {
                ++pos_;
                ControlSequence();
            } else {
                ++pos_;
                RawByte(static_cast<unsigned char>(c));
            }
        }
        while (stack_.size() > 1)
            CloseGroup();
        EndParagraph(true);
        return "<html><body style=\"white-space:pre-wrap\">" + html_ + "</body></html>";
    }

private:
    GroupState& State() { return stack_.back(); }

    void OpenGroup() {
        skip_ = 0;
        if (stack_.size() >= kMaxDepth) {
            ++overflow_;
            return;
        }
        GroupState next = State();
        next.isField = false;
        next.opensAnchor = false;
        stack_.push_back(next);
        ignorableNext_ = false;
    }

    void CloseGroup() {
        skip_ = 0;
        if (overflow_ > 0) {
            --overflow_;
            return;
        }
        if (stack_.size() <= 1) {
            finished_ = true; // the document's own group ended
            return;
        }
        FlushBytes();
        if (State().opensAnchor)
            CloseAnchor();
        stack_.pop_back();
        if (stack_.size() == 1 && sawDocumentGroup_)
            finished_ = true;
    }

    void ControlSequence() {
        if (pos_ >= in_.size())
            return;
        const char c = in_[pos_];
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++pos_;
            ControlSymbol(c);
            return;
        }
        std::string word;
        while (pos_ < in_.size() && std::isalpha(static_cast<unsigned char>(in_[pos_])) &&
               word.size() < kMaxWordLength)
            word += in_[pos_++];
        while (pos_ < in_.size() && std::isalpha(static_cast<unsigned char>(in_[pos_])))
            ++pos_; // an overlong word is cut, never read as text
        bool hasParam = false;
        bool negative = false;
        long long param = 0;
        if (pos_ < in_.size() && in_[pos_] == '-' && pos_ + 1 < in_.size() &&
            std::isdigit(static_cast<unsigned char>(in_[pos_ + 1]))) {
            negative = true;
            ++pos_;
        }
        while (pos_ < in_.size() && std::isdigit(static_cast<unsigned char>(in_[pos_]))) {
            hasParam = true;
            param = std::min<long long>(param * 10 + (in_[pos_] - '0'), 1LL << 31);
            ++pos_;
        }
        if (negative)
            param = -param;
        if (pos_ < in_.size() && in_[pos_] == ' ')
            ++pos_;
        ControlWord(word, hasParam,
                    static_cast<int>(std::clamp<long long>(param, INT32_MIN, INT32_MAX)));
    }

    bool Skipping() {
        if (skip_ > 0) {
            --skip_;
            return true;
        }
        return false;
    }

    void ControlSymbol(char c) {
        if (c == '\'') {
            int value = 0;
            int digits = 0;
            while (digits < 2 && pos_ < in_.size() &&
                   std::isxdigit(static_cast<unsigned char>(in_[pos_]))) {
                const char h =
                    static_cast<char>(std::tolower(static_cast<unsigned char>(in_[pos_])));
                value = value * 16 + (h <= '9' ? h - '0' : h - 'a' + 10);
                ++pos_;
                ++digits;
            }
            if (digits == 0 || Skipping())
                return;
            if (utf8Bytes_) {
                pendingBytes_ += static_cast<char>(value);
            } else {
                Char(FromCp1252(static_cast<unsigned char>(value)));
            }
            return;
        }
        if (c == '*') {
            ignorableNext_ = true;
            return;
        }
        if (Skipping())
            return;
        switch (c) {
        case '\\':
        case '{':
        case '}':
            Char(static_cast<unsigned char>(c));
            break;
        case '~':
            Char(0xA0);
            break;
        case '_':
            Char(0x2011);
            break;
        case '\n':
        case '\r':
            Paragraph();
            break;
        default:
            break; // \- optional hyphen, \: index entries and the rest show nothing
        }
    }

    void ControlWord(const std::string& word, bool hasParam, int param) {
        const bool ignorable = ignorableNext_;
        ignorableNext_ = false;
        if (word == "rtf" || word == "urtf") {
            utf8Bytes_ = word == "urtf";
            sawDocumentGroup_ = true;
            return;
        }
        if (word == "ansicpg") {
            if (!utf8Bytes_ && hasParam && param == 65001)
                utf8Bytes_ = true;
            return;
        }
        if (word == "uc") {
            State().unicodeSkip = std::clamp(hasParam ? param : 1, 0, 16);
            return;
        }
        if (word == "u") {
            if (Skipping())
                return;
            Unicode(hasParam ? param : 0);
            skip_ = State().unicodeSkip;
            return;
        }
        if (Skipping())
            return;
        const bool on = !hasParam || param != 0;
        if (word == "par" || word == "sect" || word == "page")
            Paragraph();
        else if (word == "line")
            Break();
        else if (word == "tab")
            Char('\t');
        else if (word == "b")
            SetFormat(&Format::bold, on);
        else if (word == "i")
            SetFormat(&Format::italic, on);
        else if (word == "ul")
            SetFormat(&Format::underline, on);
        else if (word == "ulnone")
            SetFormat(&Format::underline, false);
        else if (word == "plain") {
            State().format = {};
            State().hidden = false;
        } else if (word == "v")
            State().hidden = on;
        else if (word == "field") {
            State().isField = true;
            State().fieldIndex = fields_.size();
            fields_.push_back({});
        } else if (word == "fldinst")
            State().destination = Destination::FieldInstruction;
        else if (word == "fldrslt")
            FieldResult();
        else if (word == "emdash")
            Char(0x2014);
        else if (word == "endash")
            Char(0x2013);
        else if (word == "lquote")
            Char(0x2018);
        else if (word == "rquote")
            Char(0x2019);
        else if (word == "ldblquote")
            Char(0x201C);
        else if (word == "rdblquote")
            Char(0x201D);
        else if (word == "bullet")
            Char(0x2022);
        else if (word == "emspace")
            Char(0x2003);
        else if (word == "enspace")
            Char(0x2002);
        else if (ignorable || IsSkippedDestination(word))
            State().destination = Destination::Skip;
        // Any other word only formats what we do not show.
    }

    static bool IsSkippedDestination(const std::string& word) {
        static const char* const kWords[] = {
            "fonttbl",      "colortbl",   "stylesheet", "info",      "pict",
            "object",       "header",     "footer",     "headerl",   "headerr",
            "footerl",      "footerr",    "footnote",   "listtable", "listoverridetable",
            "rsidtbl",      "generator",  "xmlnstbl",   "themedata", "colorschememapping",
            "latentstyles", "datastore",  "filetbl",    "revtbl",    "pgdsctbl",
            "bkmkstart",    "bkmkend",    "annotation", "atnid",     "atnauthor",
            "private",      "nonshppict", "shp"};
        return std::any_of(std::begin(kWords), std::end(kWords),
                           [&](const char* w) { return word == w; });
    }

    void SetFormat(bool Format::*member, bool on) { State().format.*member = on; }

    void FieldResult() {
        State().destination = Destination::FieldResult;
        // The innermost enclosing field gives the instruction.
        for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
            if (!it->isField)
                continue;
            const std::string address = HyperlinkAddress(fields_[it->fieldIndex].instruction);
            if (!address.empty() && !inAnchor_) {
                FlushBytes();
                CloseRun();
                paragraph_ += "<a href=\"" + HtmlEscaped(address) + "\">";
                inAnchor_ = true;
                State().opensAnchor = true;
            }
            break;
        }
    }

    void CloseAnchor() {
        if (!inAnchor_)
            return;
        CloseRun();
        paragraph_ += "</a>";
        inAnchor_ = false;
    }

    void Unicode(int value) {
        if (value < -32768 || value > 65535) {
            Char(0xFFFD);
            return;
        }
        char32_t cp = static_cast<char32_t>(value < 0 ? value + 65536 : value);
        if (cp >= 0xD800 && cp < 0xDC00) {
            highSurrogate_ = cp;
            return;
        }
        if (cp >= 0xDC00 && cp < 0xE000) {
            if (highSurrogate_ == 0)
                return;
            cp = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (cp - 0xDC00);
        }
        Char(cp);
    }

    void RawByte(unsigned char c) {
        if (c == '\r' || c == '\n' || c == 0)
            return;
        if (Skipping())
            return;
        if (c >= 0x80) {
            pendingBytes_ += static_cast<char>(c);
            return;
        }
        if (c < 0x20 && c != '\t')
            return;
        Char(c);
    }

    // Bytes of a multi-byte character, decoded once it is complete or something else follows.
    void FlushBytes() {
        if (pendingBytes_.empty())
            return;
        const std::string bytes = std::move(pendingBytes_);
        pendingBytes_.clear();
        std::size_t i = 0;
        while (i < bytes.size()) {
            char32_t cp = 0;
            const std::size_t n = DecodeUtf8At(bytes, i, cp);
            if (n == 0) {
                cp = 0xFFFD;
                i += 1;
            } else {
                i += n;
            }
            Emit(cp);
        }
    }

    void Char(char32_t cp) {
        highSurrogate_ = 0;
        FlushBytes();
        Emit(cp);
    }

    void Emit(char32_t cp) {
        GroupState& state = State();
        if (state.destination == Destination::Skip)
            return;
        if (state.destination == Destination::FieldInstruction) {
            if (!fields_.empty())
                AppendUtf8(FieldFor().instruction, cp);
            return;
        }
        if (state.hidden || (cp < 0x20 && cp != '\t'))
            return;
        if (!runOpen_ || runFormat_ != state.format) {
            CloseRun();
            runFormat_ = state.format;
            runOpen_ = true;
            if (runFormat_.bold)
                paragraph_ += "<b>";
            if (runFormat_.italic)
                paragraph_ += "<i>";
            if (runFormat_.underline)
                paragraph_ += "<u>";
        }
        if (cp != ' ' && cp != '\t')
            paragraphHasInk_ = true;
        AppendHtmlEscaped(paragraph_, cp);
    }

    Field& FieldFor() {
        for (auto it = stack_.rbegin(); it != stack_.rend(); ++it)
            if (it->isField)
                return fields_[it->fieldIndex];
        return fields_.back();
    }

    void CloseRun() {
        if (!runOpen_)
            return;
        if (runFormat_.underline)
            paragraph_ += "</u>";
        if (runFormat_.italic)
            paragraph_ += "</i>";
        if (runFormat_.bold)
            paragraph_ += "</b>";
        runOpen_ = false;
    }

    bool Visible() const {
        return State().destination != Destination::Skip &&
               State().destination != Destination::FieldInstruction && !State().hidden;
    }
    const GroupState& State() const { return stack_.back(); }

    void Break() {
        FlushBytes();
        if (!Visible())
            return;
        CloseRun();
        paragraph_ += "<br />";
        paragraphHasInk_ = true;
    }

    void Paragraph() {
        FlushBytes();
        if (State().destination == Destination::Skip ||
            State().destination == Destination::FieldInstruction)
            return;
        EndParagraph(false);
    }

    // `last`: the text ended; a final paragraph of nothing but blanks is not shown.
    void EndParagraph(bool last) {
        FlushBytes();
        CloseRun();
        const bool anchorOpen = inAnchor_;
        if (anchorOpen)
            paragraph_ += "</a>";
        if (!(last && !paragraphHasInk_)) {
            // Qt's own marking of an empty paragraph, which it would otherwise drop.
            html_ += paragraph_.empty() ? "<p style=\"-qt-paragraph-type:empty;margin-top:0px;"
                                          "margin-bottom:0px\"><br />"
                                        : "<p style=\"margin-top:0px;margin-bottom:0px\">";
            html_ += paragraph_;
            html_ += "</p>";
        }
        paragraph_.clear();
        paragraphHasInk_ = false;
        if (anchorOpen) {
            // A link across paragraphs goes on in the next one.
            inAnchor_ = false;
            for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
                if (it->isField) {
                    const std::string address =
                        HyperlinkAddress(fields_[it->fieldIndex].instruction);
                    paragraph_ += "<a href=\"" + HtmlEscaped(address) + "\">";
                    inAnchor_ = true;
                    break;
                }
            }
        }
    }

    std::string_view in_;
    std::size_t pos_ = 0;
    std::vector<GroupState> stack_;
    std::vector<Field> fields_;
    std::size_t overflow_ = 0;
    int skip_ = 0;
    bool ignorableNext_ = false;
    bool utf8Bytes_ = true;
    bool sawDocumentGroup_ = false;
    bool finished_ = false;
    char32_t highSurrogate_ = 0;
    std::string pendingBytes_;
    std::string html_;
    std::string paragraph_;
    bool paragraphHasInk_ = false;
    bool runOpen_ = false;
    Format runFormat_;
    bool inAnchor_ = false;
};

} // namespace

bool IsRichText(std::string_view text) {
    return text.starts_with("{\\rtf1") || text.starts_with("{\\urtf");
}

std::string RtfToQtHtml(std::string_view rtf) {
    return Reader(rtf).Run();
}

} // namespace cptlib
