#include "sfxbuild/OutputFile.h"

#include "sfxbuild/Build.h"

#include "cptlib/platform/StdioFile.h"
#include "cptlib/platform/StopCleanup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace sfxbuild {

namespace {

std::string RandomSuffix() {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device device;
    std::string suffix;
    for (int i = 0; i < 8; ++i)
        suffix += kDigits[device() % 36];
    return suffix;
}

std::filesystem::path Beside(const std::filesystem::path& target, const std::string& tag) {
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    return folder / ("." + target.filename().string() + "." + RandomSuffix() + tag);
}

// Runs `create`, with `cleanup` tracking `path` when given.
bool Tracked(cptlib::platform::StopCleanup* cleanup, const std::filesystem::path& path,
             const std::function<bool()>& create) {
    return cleanup ? cleanup->Create(path, create) : create();
}

} // namespace

PendingFile::PendingFile(std::filesystem::path target, cptlib::platform::StopCleanup* cleanup)
    : target_(std::move(target)), cleanup_(cleanup) {
    if (target_.filename().empty())
        throw BuildError("output " + Quoted(target_) + " names no file");
    // Exclusive creation, so that a clash with another file is never overwritten.
    for (int attempt = 0; attempt < 10 && temporary_.empty(); ++attempt) {
        const auto candidate = Beside(target_, ".tmp");
        int error = 0;
        if (Tracked(cleanup_, candidate, [&] {
                const std::unique_ptr<std::FILE, decltype(&std::fclose)> file(
                    cptlib::platform::OpenStdioFile(candidate, "wbx"), &std::fclose);
                error = errno;
                return file != nullptr;
            }))
            temporary_ = candidate;
        else if (error != EEXIST)
            throw BuildError("cannot create a file beside " + Quoted(target_) + ": " +
                             std::strerror(error));
    }
    if (temporary_.empty())
        throw BuildError("cannot create a file beside " + Quoted(target_));
    stream_.open(temporary_, std::ios::in | std::ios::out | std::ios::binary);
    if (!stream_)
        Fail("cannot open");
}

PendingFile::~PendingFile() {
    if (committed_)
        return;
    stream_.close();
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
    if (cleanup_)
        cleanup_->Forget(temporary_);
}

void PendingFile::Fail(const std::string& what) const {
    throw BuildError(what + " " + Quoted(target_) + " (temporary file " + Quoted(temporary_) + ")");
}

void PendingFile::Write(std::string_view bytes) {
    stream_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!stream_)
        Fail("cannot write");
}

void PendingFile::Append(const std::filesystem::path& source) {
    std::ifstream in(source, std::ios::binary);
    if (!in)
        throw BuildError("cannot open " + Quoted(source));
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.gcount() > 0)
            Write({buffer.data(), static_cast<std::size_t>(in.gcount())});
    }
    if (in.bad())
        throw BuildError("cannot read " + Quoted(source));
}

void PendingFile::WriteAt(std::uint64_t offset, std::string_view bytes) {
    const auto end = stream_.tellp();
    stream_.seekp(static_cast<std::streamoff>(offset));
    Write(bytes);
    stream_.seekp(end);
    if (!stream_)
        Fail("cannot write");
}

std::uint64_t PendingFile::Size() {
    stream_.seekp(0, std::ios::end);
    const auto size = stream_.tellp();
    if (!stream_ || size < 0)
        Fail("cannot write");
    return static_cast<std::uint64_t>(size);
}

void PendingFile::Close() {
    stream_.flush();
    if (!stream_)
        Fail("cannot write");
    stream_.close();
    if (stream_.fail())
        Fail("cannot write");
}

void PendingFile::Commit(std::filesystem::perms mode) {
    if (stream_.is_open())
        Close();
    std::error_code ec;
    std::filesystem::permissions(temporary_, mode, std::filesystem::perm_options::replace, ec);
    if (ec)
        throw BuildError("cannot set the mode of " + Quoted(target_) + ": " + ec.message());
    std::filesystem::rename(temporary_, target_, ec);
    if (ec)
        throw BuildError("cannot write " + Quoted(target_) + ": " + ec.message());
    committed_ = true;
    if (cleanup_)
        cleanup_->Forget(temporary_);
}

WorkFolder::WorkFolder(const std::filesystem::path& target, cptlib::platform::StopCleanup* cleanup)
    : cleanup_(cleanup) {
    for (int attempt = 0; attempt < 10 && path_.empty(); ++attempt) {
        const auto candidate = Beside(target, ".d");
        std::error_code ec;
        if (Tracked(cleanup_, candidate,
                    [&] { return std::filesystem::create_directory(candidate, ec); }))
            path_ = candidate;
        else if (ec)
            throw BuildError("cannot create a folder beside " + Quoted(target) + ": " +
                             ec.message());
    }
    if (path_.empty())
        throw BuildError("cannot create a folder beside " + Quoted(target));
}

WorkFolder::~WorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    if (cleanup_)
        cleanup_->Forget(path_);
}

} // namespace sfxbuild
