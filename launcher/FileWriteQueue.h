#pragma once
// Writes extracted files on a thread of its own, so that decoding and writing overlap (on the
// caller's thread when none can be started). The
// decoding side copies data into a few reused buffers and hands them over; a full queue makes
// it wait, which bounds the memory in flight.

#include "cptlib/platform/File.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace sfx {

class FileWriteQueue {
public:
    static constexpr std::size_t kDefaultBuffers = 8;
    static constexpr std::size_t kDefaultBufferSize = 1 << 20;

    explicit FileWriteQueue(std::size_t buffers = kDefaultBuffers,
                            std::size_t bufferSize = kDefaultBufferSize);
    // Writes what was handed over (a file not ended is abandoned), then stops the thread.
    ~FileWriteQueue();
    FileWriteQueue(const FileWriteQueue&) = delete;
    FileWriteQueue& operator=(const FileWriteQueue&) = delete;

    // Where a file lies: the open folder that holds it, the name it was made under and, for a
    // file written beside an existing one, the name it takes once complete.
    struct Place {
        cptlib::platform::FileDescriptor folder;
        std::string created;
        std::string final; // empty: stays under `created`
    };

    // Starts the next file; `name` names it in a failure. The file gets `mode` (when given) and
    // the current time once its data is written, then it is closed and, with a `place` whose
    // `final` is set, renamed over what has that name. A file that does not end complete (a
    // write failed, before or in it, or it was abandoned) is removed from its `place`.
    void Begin(cptlib::platform::FileDescriptor file, std::string name,
               std::optional<std::uint32_t> mode, Place place = {});
    // Appends data to the current file. False once writing has failed.
    bool Append(std::span<const std::uint8_t> data);
    // Hands over the rest of the current file and its closing.
    bool End();
    // The current file stays incomplete: closed and removed, never finished.
    void Abandon();

    // Waits until everything handed over has been written, abandoning a current file that was
    // not ended; the first failure's Win32 number.
    std::uint32_t Drain();

    // The first failure (0 while none) and the name of its file; stable once set.
    std::uint32_t Error() const { return error_.load(); }
    std::string ErrorName() const;

    // Bytes written so far.
    std::uint64_t Written() const { return written_.load(); }

private:
    struct OutputFile {
        cptlib::platform::FileDescriptor file;
        std::string name;
        std::optional<std::uint32_t> mode;
        Place place;
    };
    struct Job {
        std::shared_ptr<OutputFile> file;
        std::vector<std::uint8_t> data;
        bool last = false;
        bool abandoned = false;
    };

    void Submit(bool last, bool abandoned = false);
    // On the writer: finishes the file, or removes it when it is not complete.
    void Close(OutputFile& file, bool complete);
    std::vector<std::uint8_t> TakeBuffer();
    void WriterLoop();
    // Writes one job and gives its buffer back.
    void Write(Job& job);
    void Fail(std::uint32_t error, const std::string& name);

    const std::size_t bufferSize_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> queue_;
    std::vector<std::vector<std::uint8_t>> free_;
    bool busy_ = false; // the writer holds a job
    bool stop_ = false;
    std::string errorName_;
    std::atomic<std::uint32_t> error_{0};
    std::atomic<std::uint64_t> written_{0};

    // The decoding side's current file and buffer.
    std::shared_ptr<OutputFile> current_;
    std::vector<std::uint8_t> buffer_;

    std::thread writer_;
    bool inline_ = false; // no writer thread could be started: jobs are written by Submit
};

} // namespace sfx
