#include "launcher/Forwarding.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/Exceptions.h"
#include "cptlib/Utf.h"
#include "cptlib/io/SystemFile.h"
#include "cptlib/msi/IsolatedQuery.h"
#include "cptlib/platform/FileIo.h"
#include "cptlib/platform/OwnImage.h"
#include "cptlib/resources/ResourceUtils.h"
#include "format/DataBlock.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <vector>

namespace sfx {

namespace {

using cptlib::HRESULT;

constexpr std::array<std::uint8_t, 8> kCompoundFileSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                                0xA1, 0xB1, 0x1A, 0xE1};

// Invalid sequences become U+FFFD, as the system's conversion makes them.
std::string SanitizeUtf8(std::string_view text) {
    if (cptlib::IsValidUtf8(text))
        return std::string(text);
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t length = 0;
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4;
        if (length != 0 && i + length <= text.size() &&
            cptlib::IsValidUtf8(text.substr(i, length))) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            cptlib::AppendUtf8(out, U'\uFFFD');
            ++i;
        }
    }
    return out;
}

// Unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = U'\uFFFD';
        }
        cptlib::AppendUtf8(out, cp);
    }
    return out;
}

bool IsSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// One part's key or value with its escapes resolved; nullopt for a broken escape.
std::optional<std::u16string> Unescape(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const std::u16string_view pair = text.substr(i + 1, 2);
        // Nothing but white space is no number at all; anything else reads as one.
        if (IsSpace(pair[0]) && IsSpace(pair[1]))
            return std::nullopt;
        std::size_t k = IsSpace(pair[0]) ? 1 : 0;
        unsigned value = 0;
        for (; k < pair.size() && HexDigit(pair[k]) >= 0; ++k)
            value = value * 16 + static_cast<unsigned>(HexDigit(pair[k]));
        out += static_cast<char16_t>(value);
        i += 2;
    }
    return out;
}

bool IsForwardedName(const std::string& name) {
    return name.starts_with("VRN") || name.starts_with("ZQ_");
}

// The file whose values are read: by its path, or through a descriptor opened before.
struct ValueSource {
    const std::filesystem::path& path;
    const cptlib::platform::FileDescriptor* file;
};

bool IsCompoundFile(const ValueSource& source) {
    if (source.file != nullptr) {
        std::array<std::uint8_t, kCompoundFileSignature.size()> head{};
        std::size_t read = 0;
        return cptlib::platform::ReadFileAt(*source.file, 0, head.data(), head.size(), read) ==
                   cptlib::kErrorSuccess &&
               read == head.size() &&
               std::equal(head.begin(), head.end(), kCompoundFileSignature.begin());
    }
    const std::filesystem::path& path = source.path;
    cptlib::FileInStream stream(path, cptlib::FileOpenMode::In, cptlib::FileShareMode::Read);
    stream.exceptions(std::ios_base::badbit);
    std::array<char, kCompoundFileSignature.size()> head{};
    stream.read(head.data(), static_cast<std::streamsize>(head.size()));
    return stream.gcount() == static_cast<std::streamsize>(head.size()) &&
           std::equal(head.begin(), head.end(), kCompoundFileSignature.begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

HRESULT ReadFromResources(const ValueSource& source, ForwardedValues& values) {
    values.clear();
    std::vector<std::string> names;
    HRESULT hr = source.file != nullptr ? cptlib::EnumRcDataNames(*source.file, names)
                                        : cptlib::EnumRcDataNames(source.path, names);
    if (cptlib::Failed(hr))
        return hr;
    for (const std::string& name : names) {
        if (!IsForwardedName(name))
            continue;
        std::string bytes;
        if (cptlib::Failed(hr = source.file != nullptr
                                    ? cptlib::ReadFileResource(*source.file, name, bytes)
                                    : cptlib::ReadFileResource(source.path, name, bytes)))
            return hr;
        bytes.resize(std::min(bytes.size(), bytes.find('\0')));
        values.insert_or_assign(name, SanitizeUtf8(bytes));
    }
    return values.empty() ? cptlib::HRESULT_NO_MORE_ITEMS : cptlib::kHrOk;
}

HRESULT ReadFromDataBlock(const ValueSource& source, ForwardedValues& values) {
    values.clear();
    cptlib::platform::FileDescriptor file;
    // The search moves the file position, which the open file's other readers must not see.
    HRESULT hr = source.file != nullptr ? cptlib::platform::ReopenFile(*source.file, file)
                                        : cptlib::platform::OpenFileForRead(file, source.path);
    if (cptlib::Failed(hr))
        return hr;
    std::u16string payload;
    if (cptlib::Failed(hr = FindDataBlock(file, &payload, nullptr, nullptr)))
        return hr;
    return ParseDataBlock(values, payload) ? cptlib::kHrOk : cptlib::HRESULT_INVALID_DATA;
}

HRESULT ReadFromDatabase(const std::filesystem::path& path, ForwardedValues& values) {
    namespace msi = cptlib::msi;
    const std::vector<msi::IsolatedQuery> queries = {
        {"SELECT `Property` FROM `Property` WHERE `Property`='ZQ_SetupVersion'", 1, true},
        {"SELECT `Value` FROM `Property` WHERE `Property`='ZQ_InstIdProperties'", 1, false},
        {"SELECT `Property`, `Value` FROM `Property`", 2, false},
    };
    const std::vector<msi::Rows> results = msi::QueryDatabaseIsolated(path, queries);
    std::set<std::string> names;
    if (!results.empty() && !results[0].empty()) {
        if (results.size() > 1 && !results[1].empty()) {
            const std::string& list = results[1].front().front();
            std::size_t begin = 0;
            for (;;) {
                const std::size_t end = list.find(';', begin);
                names.insert(list.substr(begin, end - begin));
                if (end == std::string::npos)
                    break;
                begin = end + 1;
            }
        } else {
            names = {"ZQ_VRNID", "ZQ_VRNID2", "ZQ_BRINDLE_PHASH"};
        }
    }
    if (names.empty())
        return cptlib::HRESULT_NO_MORE_ITEMS;
    for (const std::string& name : names)
        values.insert_or_assign(SanitizeUtf8(name), std::string());
    if (results.size() > 2)
        for (const msi::Row& row : results[2])
            if (names.contains(row[0]))
                values.insert_or_assign(SanitizeUtf8(row[0]), SanitizeUtf8(row[1]));
    return cptlib::kHrOk;
}

HRESULT ReadWith(ForwardingMethod method, const ValueSource& source, ForwardedValues& values) {
    switch (method) {
    case ForwardingMethod::Resources:
        return ReadFromResources(source, values);
    case ForwardingMethod::DataBlock:
        return ReadFromDataBlock(source, values);
    case ForwardingMethod::InstallerDatabase:
        return ReadFromDatabase(source.path, values);
    case ForwardingMethod::Automatic:
        break;
    }
    return cptlib::kHrInvalidArg;
}

bool AllValuesEmpty(const ForwardedValues& values) {
    return std::all_of(values.begin(), values.end(),
                       [](const auto& entry) { return entry.second.empty(); });
}

HRESULT HResultFromSystemError(const std::system_error& e) {
    const std::error_code code = e.code();
    if (code.category() == cptlib::win32_category())
        return cptlib::HResultFromWin32(static_cast<std::uint32_t>(code.value()));
    if (code.category() == std::system_category())
        return cptlib::HResultFromErrno(code.value());
    return cptlib::kHrFail;
}

std::optional<std::string> MatchTag(const std::string& name) {
    static const boost::regex pattern(".*--ph([0-9a-zA-Z]{16})(?:[^0-9a-zA-Z].*)?");
    boost::smatch match;
    if (boost::regex_match(name, match, pattern))
        return match[1].str();
    return std::nullopt;
}

} // namespace

bool Utf16CodeUnitLess::operator()(std::string_view a, std::string_view b) const {
    // Byte order of UTF-8 is code point order, which differs from UTF-16 order only where a
    // character above U+FFFF meets one in U+E000..U+FFFF; converting keeps this simple.
    return *cptlib::Utf8ToUtf16(SanitizeUtf8(a)) < *cptlib::Utf8ToUtf16(SanitizeUtf8(b));
}

namespace {

HRESULT ReadValues(const ValueSource& path, ForwardedValues& values, ForwardingMethod method,
                   ForwardingMethod* usedMethod, std::uint32_t flags) {
    ForwardingMethod used = method;
    if (usedMethod != nullptr)
        *usedMethod = used;
    const auto tried = [&](ForwardingMethod m) {
        used = m;
        if (usedMethod != nullptr)
            *usedMethod = m;
    };
    HRESULT hr = cptlib::kHrOk;
    try {
        if (method == ForwardingMethod::Automatic)
            tried(IsCompoundFile(path) ? ForwardingMethod::InstallerDatabase
                                       : ForwardingMethod::Resources);
        hr = ReadWith(used, path, values);
        if (method == ForwardingMethod::Automatic && used == ForwardingMethod::Resources) {
            if (hr == cptlib::HRESULT_NO_MORE_ITEMS) {
                tried(ForwardingMethod::DataBlock);
                hr = ReadWith(used, path, values);
            } else if (cptlib::Succeeded(hr) && AllValuesEmpty(values)) {
                // A launcher file always has its slots; left empty, its values can only be in
                // the data block. Without one, the slots' result stands.
                ForwardedValues slots = values;
                const HRESULT fromBlock = ReadWith(ForwardingMethod::DataBlock, path, values);
                // A block that breaks off part-way still holds the values before the break.
                if (cptlib::Succeeded(fromBlock) || !values.empty()) {
                    tried(ForwardingMethod::DataBlock);
                    hr = fromBlock;
                } else {
                    values = std::move(slots);
                }
            }
        }
    } catch (const std::system_error& e) {
        return HResultFromSystemError(e);
    } catch (const std::exception&) {
        return cptlib::kHrFail;
    }
    if (cptlib::Succeeded(hr) && (flags & kForwardDropEmptyValues) != 0)
        std::erase_if(values, [](const auto& entry) { return entry.second.empty(); });
    return hr;
}

} // namespace

HRESULT ReadForwardedValues(const std::filesystem::path& path, ForwardedValues& values,
                            ForwardingMethod method, ForwardingMethod* usedMethod,
                            std::uint32_t flags) {
    return ReadValues({path, nullptr}, values, method, usedMethod, flags);
}

bool ParseDataBlock(ForwardedValues& values, std::u16string_view payload) {
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = payload.find(u'&', begin);
        const std::u16string_view part = payload.substr(begin, end - begin);
        const std::size_t equals = part.find(u'=');
        const auto key = Unescape(part.substr(0, equals));
        const auto value = Unescape(equals == std::u16string_view::npos ? std::u16string_view()
                                                                        : part.substr(equals + 1));
        if (!key || !value)
            return false;
        values.insert_or_assign(Utf8FromUtf16(*key), Utf8FromUtf16(*value));
        if (end == std::u16string_view::npos)
            return true;
        begin = end + 1;
    }
}

std::optional<std::string> FileNameTag(const std::filesystem::path& programFile) {
    try {
        if (auto tag = MatchTag(programFile.stem().string()))
            return tag;
        return MatchTag(programFile.filename().string());
    } catch (const std::exception&) {
        // A name the matcher gives up on carries no tag.
        return std::nullopt;
    }
}

ForwardedValues CollectSetupValues(const ForwardingInput& input) {
    ForwardedValues values;
    // Whatever was read before a failure is still forwarded.
    ReadValues({input.programFile, input.programImage}, values, ForwardingMethod::Automatic,
               nullptr, kForwardDropEmptyValues);
    if (auto tag = FileNameTag(input.startedAs.empty() ? input.programFile : input.startedAs))
        values.insert_or_assign("VRNID2", std::move(*tag));
    return values;
}

namespace {

bool HoldsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Entries that cannot be one line of the values file are dropped: a line break would forge
// further lines, a NUL would cut the line short for the reader.
ForwardedValues WritableValues(const ForwardedValues& values) {
    ForwardedValues writable;
    for (const auto& [key, value] : values) {
        if (HoldsLineBreakOrNul(key) || HoldsLineBreakOrNul(value)) {
            SETUP_LOG(cptlib::Severity::Normal)
                << "Forwarded value not written: a line break or NUL in the entry of "
                << (HoldsLineBreakOrNul(key) ? std::string("a key") : "key " + key) << ".";
            continue;
        }
        writable.emplace(key, value);
    }
    return writable;
}

} // namespace

void WriteValuesFile(const ForwardedValues& values, const std::filesystem::path& valuesFile) {
    const ForwardedValues writable = WritableValues(values);
    cptlib::CStdioFileA file(valuesFile);
    try {
        for (const auto& [key, value] : writable)
            file.WriteString(key + "=" + value + "\n");
        file.Close();
    } catch (...) {
        // A cut-off line would hand the setup a wrong value; no file is better.
        try {
            file.Close();
        } catch (const std::exception&) {
        }
        std::error_code ignored;
        std::filesystem::remove(valuesFile, ignored);
        throw;
    }
}

void WriteSetupValues(const ForwardingInput& input, const std::filesystem::path& valuesFile) {
    try {
        const ForwardedValues values = WritableValues(CollectSetupValues(input));
        if (!values.empty())
            WriteValuesFile(values, valuesFile);
    } catch (const std::exception&) {
        // The setup starts with or without the file.
    }
}

} // namespace sfx
