#pragma once
// What a start needs, prepared in the caller before the process exists: after a fork of a
// threaded process only async-signal-safe calls are allowed. Internal to the Spawn files.

#include "cptlib/platform/Spawn.h"

#include <string>
#include <unistd.h>
#include <vector>

namespace cptlib::platform::detail {

// Owns a descriptor. (The Spawn files stand alone: a static program links them without the rest
// of the library.)
class OwnedDescriptor {
public:
    explicit OwnedDescriptor(int fd = -1) : fd_(fd) {}
    ~OwnedDescriptor() { reset(); }
    OwnedDescriptor(const OwnedDescriptor&) = delete;
    OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// A descriptor of the caller that becomes `target` in the program.
struct DescriptorMove {
    int source;
    int target;
};

bool NeedsNullDevice(const SpawnRequest& request);

class SpawnPlan {
public:
    // `nullDevice`: an open /dev/null for the streams that ask for it. `reserved`: a descriptor
    // of the caller (or -1) that no scratch number of the moves may hit.
    SpawnPlan(const SpawnRequest& request, int nullDevice, int reserved = -1);
    SpawnPlan(const SpawnPlan&) = delete;
    SpawnPlan& operator=(const SpawnPlan&) = delete;

    // 0, or EBADF when a stream or descriptor asked for is not a descriptor.
    int Error() const { return error_; }
    char* const* Argv() const { return argv_.data(); }
    char* const* Envp() const;
    // Every move goes first to ScratchBase() + its index, then to its target, so that no
    // source is overwritten before it is read.
    const std::vector<DescriptorMove>& Moves() const { return moves_; }
    int ScratchBase() const { return scratchBase_; }
    // The first descriptor number the program was not given.
    int FirstUnasked() const { return firstUnasked_; }

private:
    std::vector<std::string> strings_;
    std::vector<char*> argv_;
    std::vector<char*> envp_;
    bool ownEnvironment_ = false;
    std::vector<DescriptorMove> moves_;
    int scratchBase_ = 3;
    int firstUnasked_ = 3;
    int error_ = 0;
};

} // namespace cptlib::platform::detail
