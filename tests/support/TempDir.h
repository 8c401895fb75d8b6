#pragma once
// A fresh folder per test under the temporary folder, removed with the object.

#include <gtest/gtest.h>
#include <stdlib.h>
#ifdef _WIN32
#include <process.h>
#endif

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testsupport {

// Gives the owner full access to `top` and every folder below it (links are not followed), so
// that a tree a test made read-only or unreadable can be listed and removed.
inline void MakeOwnerAccessible(const std::filesystem::path& top) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(top, ec)))
        return;
    fs::permissions(top, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(top, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
}

class TempDir {
public:
    // The folder's name is `prefix` and a unique tail, as mkdtemp makes it.
    explicit TempDir(const std::string& prefix = "sfxtest-") {
#ifdef _WIN32
        // No mkdtemp there: a name that create_directory makes anew is as unique.
        static unsigned counter = 0;
        for (int attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
            auto candidate =
                std::filesystem::temp_directory_path() /
                (prefix + std::to_string(::_getpid()) + "-" + std::to_string(++counter));
            if (std::filesystem::create_directory(candidate))
                path_ = candidate;
        }
        if (path_.empty())
            throw std::runtime_error("cannot make a folder like " + prefix);
#else
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a folder like " + pattern);
        path_ = pattern;
#endif
    }
    ~TempDir() {
        std::error_code ec;
        MakeOwnerAccessible(path_);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const {
        return path_;
    }
    std::filesystem::path operator/(const std::string& name) const {
        return path_ / name;
    }

private:
    std::filesystem::path path_;
};

// A test fixture with a fresh folder `folder_` of its own.
class ScratchTest : public testing::Test {
protected:
    TempDir scratch_;
    const std::filesystem::path folder_ = scratch_.path();
};

} // namespace testsupport
