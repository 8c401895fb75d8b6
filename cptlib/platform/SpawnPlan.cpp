#include "cptlib/platform/SpawnPlan.h"

#include <algorithm>
#include <cerrno>

extern char** environ;

namespace cptlib::platform::detail {

bool NeedsNullDevice(const SpawnRequest& request) {
    return request.input.kind == Stream::Kind::Null || request.output.kind == Stream::Kind::Null ||
           request.error.kind == Stream::Kind::Null;
}

SpawnPlan::SpawnPlan(const SpawnRequest& request, int nullDevice, int reserved) {
    // The strings first: the pointers into them must not move afterwards.
    strings_.reserve(1 + request.arguments.size() +
                     (request.environment ? request.environment->size() : 0));
    strings_.push_back(request.program);
    strings_.insert(strings_.end(), request.arguments.begin(), request.arguments.end());
    if (request.environment) {
        ownEnvironment_ = true;
        for (const auto& [name, value] : *request.environment)
            strings_.push_back(name + "=" + value);
    }
    const std::size_t argc = 1 + request.arguments.size();
    for (std::size_t i = 0; i < strings_.size(); ++i)
        (i < argc ? argv_ : envp_).push_back(strings_[i].data());
    argv_.push_back(nullptr);
    envp_.push_back(nullptr);

    const Stream* streams[] = {&request.input, &request.output, &request.error};
    for (int target = 0; target < 3; ++target) {
        const Stream& stream = *streams[target];
        if (stream.kind == Stream::Kind::Null)
            moves_.push_back({nullDevice, target});
        else if (stream.kind == Stream::Kind::Descriptor)
            moves_.push_back({stream.fd, target});
    }
    int target = 3;
    for (const int fd : request.descriptors)
        moves_.push_back({fd, target++});
    firstUnasked_ = target;

    int highest = std::max(reserved, firstUnasked_ - 1);
    for (const DescriptorMove& move : moves_) {
        if (move.source < 0)
            error_ = EBADF;
        highest = std::max(highest, move.source);
    }
    scratchBase_ = highest + 1;
}

char* const* SpawnPlan::Envp() const {
    return ownEnvironment_ ? envp_.data() : environ;
}

} // namespace cptlib::platform::detail
