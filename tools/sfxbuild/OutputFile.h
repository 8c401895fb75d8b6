#pragma once
// Output that appears at its path only when complete: written to a temporary file beside it
// and renamed into place, removed on every failure.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace cptlib::platform {
class StopCleanup;
}

namespace sfxbuild {

class PendingFile {
public:
    // Creates a new temporary file in the target's folder, removed by `cleanup` (when given) on
    // a stop signal. Throws BuildError.
    explicit PendingFile(std::filesystem::path target,
                         cptlib::platform::StopCleanup* cleanup = nullptr);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::filesystem::path& path() const { return temporary_; }
    void Write(std::string_view bytes);
    // Copies a whole file behind what was written.
    void Append(const std::filesystem::path& source);
    void WriteAt(std::uint64_t offset, std::string_view bytes);
    std::uint64_t Size();
    // Flushes and closes the file so that it can be read back; no writes afterwards.
    void Close();
    // Sets the mode and renames the file onto the target.
    void Commit(std::filesystem::perms mode);

private:
    [[noreturn]] void Fail(const std::string& what) const;

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::fstream stream_;
    cptlib::platform::StopCleanup* cleanup_;
    bool committed_ = false;
};

// A private folder beside a target for intermediate files, removed with its contents.
class WorkFolder {
public:
    explicit WorkFolder(const std::filesystem::path& target,
                        cptlib::platform::StopCleanup* cleanup = nullptr);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    cptlib::platform::StopCleanup* cleanup_;
};

} // namespace sfxbuild
