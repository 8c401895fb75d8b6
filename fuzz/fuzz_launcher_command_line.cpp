// The launcher's own command line: NUL-separated arguments as the program receives them.
#include "FuzzInput.h"
#include "launcher/App.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto arguments = fuzz::SplitAtNul(data, size);
    const std::size_t count = arguments.size();
    sfx::CApp app(std::move(arguments), "/opt/dl/setup");
    if (app.ParseCommandLine()) {
        const sfx::StartupState& state = app.state;
        // Every argument is consumed once at most: forwarded, packed or taken as a value.
        if (state.forwardedArguments.size() + state.packedArguments.size() > count)
            std::abort();
    }
    return 0;
}
