#include "launcher/FileWriteQueue.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/FolderEntries.h"
#include "cptlib/platform/TargetFolder.h"

#include <stdio.h>

#include <algorithm>
#include <system_error>

namespace sfx {

FileWriteQueue::FileWriteQueue(std::size_t buffers, std::size_t bufferSize)
    : bufferSize_(std::max<std::size_t>(bufferSize, 1)) {
    // Memory and thread come with the first file: an archive without files needs neither.
    free_.resize(std::max<std::size_t>(buffers, 1));
}

FileWriteQueue::~FileWriteQueue() {
    Abandon();
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable())
        writer_.join();
}

std::vector<std::uint8_t> FileWriteQueue::TakeBuffer() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !free_.empty(); });
    std::vector<std::uint8_t> buffer = std::move(free_.back());
    free_.pop_back();
    lock.unlock();
    buffer.reserve(bufferSize_);
    return buffer;
}

void FileWriteQueue::Begin(cptlib::platform::FileDescriptor file, std::string name,
                           std::optional<std::uint32_t> mode, Place place) {
    if (current_)
        End();
    if (!writer_.joinable() && !inline_) {
        // Writing overlaps decoding only as an optimisation: without a thread to spare (a pids
        // or thread limit) the files are written on this thread instead of failing the run.
        try {
            writer_ = std::thread([this] { WriterLoop(); });
        } catch (const std::system_error&) {
            inline_ = true;
        }
    }
    current_ = std::make_shared<OutputFile>(
        OutputFile{std::move(file), std::move(name), mode, std::move(place)});
    buffer_ = TakeBuffer();
}

bool FileWriteQueue::Append(std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        if (Error() != 0)
            return false;
        const std::size_t room = bufferSize_ - buffer_.size();
        const std::size_t part = std::min(room, data.size());
        buffer_.insert(buffer_.end(), data.begin(),
                       data.begin() + static_cast<std::ptrdiff_t>(part));
        data = data.subspan(part);
        if (buffer_.size() == bufferSize_) {
            Submit(false);
            buffer_ = TakeBuffer();
        }
    }
    return Error() == 0;
}

bool FileWriteQueue::End() {
    if (current_) {
        Submit(true);
        current_.reset();
    }
    return Error() == 0;
}

void FileWriteQueue::Abandon() {
    if (current_) {
        Submit(true, true);
        current_.reset();
    }
}

void FileWriteQueue::Submit(bool last, bool abandoned) {
    if (inline_) {
        Job job{current_, std::move(buffer_), last, abandoned};
        buffer_ = {};
        Write(job);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(Job{current_, std::move(buffer_), last, abandoned});
    }
    buffer_ = {};
    changed_.notify_all();
}

std::uint32_t FileWriteQueue::Drain() {
    Abandon();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
    return Error();
}

std::string FileWriteQueue::ErrorName() const {
    std::lock_guard lock(mutex_);
    return errorName_;
}

void FileWriteQueue::Fail(std::uint32_t error, const std::string& name) {
    std::lock_guard lock(mutex_);
    if (error_.load() == 0) {
        errorName_ = name;
        error_.store(error);
    }
}

void FileWriteQueue::Close(OutputFile& file, bool complete) {
    Place& place = file.place;
    if (complete) {
        std::uint32_t error = cptlib::platform::FinishFile(file.file, file.mode);
        if (error == 0 && place.folder && !place.final.empty())
            error =
                cptlib::platform::RenameInFolder(place.folder.get(), place.created, place.final);
        if (error == 0)
            return;
        Fail(error, file.name);
    }
    // Never left behind looking finished: a short file with its final permissions.
    file.file.reset();
    if (place.folder && !place.created.empty())
        cptlib::platform::RemoveFileInFolder(place.folder.get(), place.created);
}

void FileWriteQueue::WriterLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            job = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        Write(job);
    }
}

void FileWriteQueue::Write(Job& job) {
    OutputFile& file = *job.file;
    // After a failure the rest is dropped; the files are still closed.
    if (Error() == 0 && !job.abandoned && !job.data.empty()) {
        if (const std::uint32_t error =
                cptlib::platform::WriteFully(file.file, job.data.data(), job.data.size()))
            Fail(error, file.name);
        else
            written_.fetch_add(job.data.size());
    }
    if (job.last && file.file)
        Close(file, Error() == 0 && !job.abandoned);
    job.data.clear();
    job.file.reset();
    {
        std::lock_guard lock(mutex_);
        free_.push_back(std::move(job.data));
        busy_ = false;
    }
    changed_.notify_all();
}

} // namespace sfx
