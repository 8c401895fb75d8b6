#pragma once
// Identification values that a launcher file carries for the setup program: in its kRtRcData
// slots, in a data block near its end, or in a tag in its file name; an installer database
// carries them in its Property table. They reach the setup as lines of SetupValues.dat.

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sfx {

// Orders UTF-8 keys by their UTF-16 code units (case-sensitive, no locale), the order the setup
// program compares them in: a character above U+FFFF sorts before U+E000..U+FFFF.
struct Utf16CodeUnitLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// Keys and values are UTF-8.
using ForwardedValues = std::map<std::string, std::string, Utf16CodeUnitLess>;

enum class ForwardingMethod : int {
    Automatic = 0,
    Resources = 1,         // kRtRcData resources named VRN... or ZQ_...
    DataBlock = 2,         // "##DATA##" query "##ENDDATA##" in the last 64 KiB
    InstallerDatabase = 3, // the Property table
};

// Flag of ReadForwardedValues: drop entries whose value is empty.
constexpr std::uint32_t kForwardDropEmptyValues = 1;

// Reads the values `path` forwards. Resources and DataBlock empty `values` first,
// InstallerDatabase adds to it. Automatic takes an installer database (compound-file signature)
// as such, reads other files' resources and falls back to the data block when they have no
// kRtRcData resource or only empty ones. `usedMethod` receives the method whose result is
// returned. Failures are returned as HRESULTs and leave what was collected so far.
cptlib::HRESULT ReadForwardedValues(const std::filesystem::path& path, ForwardedValues& values,
                                    ForwardingMethod method = ForwardingMethod::Automatic,
                                    ForwardingMethod* usedMethod = nullptr,
                                    std::uint32_t flags = 0);

// Adds the parts of a "key=value&key=value" payload to `values`. A '%' and the two code units
// after it stand for one code unit, their hexadecimal value read as scanf's %x reads it (0 when
// no digit comes first). False when a '%' has fewer than two units after it or two white-space
// units; the parts before it stay in `values`.
bool ParseDataBlock(ForwardedValues& values, std::u16string_view payload);

// The VRNID2 value a launcher's file name carries: "--ph" and 16 letters or digits that end the
// name or are followed by another character. The name is matched without its extension first,
// then whole, since a name without extension may hold dots.
std::optional<std::string> FileNameTag(const std::filesystem::path& programFile);

struct ForwardingInput {
    // The launcher's own program file, whose values are read.
    std::filesystem::path programFile;
    // The name the launcher was started under, searched for the tag; empty: programFile's.
    std::filesystem::path startedAs = {};
    // The launcher's file as it was opened at start-up; when given, it is read instead of
    // `programFile`, which then only names it.
    const cptlib::platform::FileDescriptor* programImage = nullptr;
};

// What the setup receives: the launcher file's values without empty ones, and VRNID2 from the
// file-name tag, which wins over a stamped one.
ForwardedValues CollectSetupValues(const ForwardingInput& input);

// Writes one "key=value" line per entry with CR LF line ends, UTF-8 without byte-order mark.
// An entry whose key or value holds a line break or NUL is left out and logged.
// Throws cptlib::FileException; a file left incomplete by a failed write is removed.
void WriteValuesFile(const ForwardedValues& values, const std::filesystem::path& valuesFile);

// Collects the values and writes them to `valuesFile`; with no values (none left after
// leaving out those WriteValuesFile cannot write) nothing is written.
// Failures are swallowed: the setup is started with or without the file.
void WriteSetupValues(const ForwardingInput& input, const std::filesystem::path& valuesFile);

} // namespace sfx
