// Windows command-line text: the splitter over any bytes, and quoting as its exact inverse,
// split(quote(args)) == args, for both quoting rules.
#include "FuzzInput.h"
#include "cptlib/sys/CommandLineSplit.h"
#include "launcher/SetupCommand.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

template <typename Quote> void RoundTrip(const std::vector<std::string>& arguments, Quote quote) {
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty())
            line += ' ';
        line += quote(argument);
    }
    if (cptlib::SplitCommandLine(line) != arguments)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cptlib::SplitCommandLine(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto arguments = fuzz::SplitAtNul(data, size);
    RoundTrip(arguments, [](std::string_view a) { return cptlib::QuoteArgument(a); });
    RoundTrip(arguments, [](std::string_view a) { return sfx::QuoteSwitch(a); });
    return 0;
}
