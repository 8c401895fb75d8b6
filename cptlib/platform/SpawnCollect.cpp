#include "cptlib/platform/SpawnCollect.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace cptlib::platform {

namespace {

class Pipe {
public:
    Pipe() = default;
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    // Close-on-exec, so that a program started meanwhile from another thread holds no copy of
    // the write end, which would keep the reader waiting until that program ends.
    int Open() { return ::pipe2(fds_.data(), O_CLOEXEC) == 0 ? 0 : errno; }
    int read() const { return fds_[0]; }
    int write() const { return fds_[1]; }
    void CloseRead() { Close(fds_[0]); }
    void CloseWrite() { Close(fds_[1]); }

private:
    static void Close(int& fd) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    std::array<int, 2> fds_{-1, -1};
};

} // namespace

int PipeHolding(const std::string& text, FileDescriptor& readEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return errno;
    FileDescriptor read(fds[0]);
    const FileDescriptor write(fds[1]);
    // Never blocks on a full pipe: nobody reads yet.
    if (::fcntl(write.get(), F_SETFL, O_NONBLOCK) != 0)
        return errno;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(write.get(), text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return count < 0 && errno != EAGAIN ? errno : EMSGSIZE;
        done += static_cast<std::size_t>(count);
    }
    readEnd = std::move(read);
    return 0;
}

int RunCollectingOutput(SpawnRequest request, CollectedRun& run, bool mergeError,
                        ChildTracker* tracker) {
    run = CollectedRun{};
    Pipe out, err;
    if (const int error = out.Open())
        return error;
    if (!mergeError)
        if (const int error = err.Open())
            return error;
    request.output = Stream::From(out.write());
    request.error = Stream::From(mergeError ? out.write() : err.write());
    pid_t pid = -1;
    const int error = tracker ? tracker->Start([&](pid_t& id) {
        const int result = Spawn(request, id);
        pid = id;
        return result;
    })
                              : Spawn(request, pid);
    out.CloseWrite();
    err.CloseWrite();
    if (error != 0)
        return error;

    std::array<pollfd, 2> fds{{{out.read(), POLLIN, 0}, {err.read(), POLLIN, 0}}};
    std::array<std::string*, 2> sinks{&run.out, &run.err};
    char buffer[4096];
    for (;;) {
        if (fds[0].fd < 0 && fds[1].fd < 0)
            break;
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0)
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                fds[i].fd = -1; // closed with its Pipe
        }
    }
    if (tracker)
        tracker->Ending(pid);
    run.waitStatus = WaitForProcess(pid);
    return 0;
}

} // namespace cptlib::platform
