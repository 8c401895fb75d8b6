#pragma once
// Writes extracted files on a thread of its own, so that decoding and writing overlap. The
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
    // Writes what was handed over, then stops the thread.
    ~FileWriteQueue();
    FileWriteQueue(const FileWriteQueue&) = delete;
    FileWriteQueue& operator=(const FileWriteQueue&) = delete;

    // Starts the next file; `name` names it in a failure. The file gets `mode` (when given) and
    // the current time once its data is written, then it is closed.
    void Begin(cptlib::platform::FileDescriptor file, std::string name,
               std::optional<std::uint32_t> mode);
    // Appends data to the current file. False once writing has failed.
    bool Append(std::span<const std::uint8_t> data);
    // Hands over the rest of the current file and its closing.
    bool End();

    // Waits until everything handed over has been written; the first failure's Win32 number.
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
    };
    struct Job {
        std::shared_ptr<OutputFile> file;
        std::vector<std::uint8_t> data;
        bool last = false;
    };

    void Submit(bool last);
    std::vector<std::uint8_t> TakeBuffer();
    void WriterLoop();
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
};

} // namespace sfx
