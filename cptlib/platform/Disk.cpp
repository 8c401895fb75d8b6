#include "cptlib/platform/Disk.h"

#include "cptlib/SystemError.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

namespace cptlib::platform {

namespace {

std::string DecodeMountField(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            int value = 0;
            bool octal = true;
            for (std::size_t k = 1; k <= 3; ++k) {
                const char c = field[i + k];
                if (c < '0' || c > '7') {
                    octal = false;
                    break;
                }
                value = value * 8 + (c - '0');
            }
            if (octal) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The block device behind the mount point reports removable media (USB sticks, card readers,
// optical drives); a partition inherits the flag of its disk.
bool IsOnRemovableMedia(const std::string& mountPoint) {
    struct stat st {};
    if (::stat(mountPoint.c_str(), &st) != 0)
        return false;
    const std::string link = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                             std::to_string(minor(st.st_dev));
    char resolved[4096];
    if (::realpath(link.c_str(), resolved) == nullptr)
        return false;
    std::string device(resolved);
    for (int level = 0; level < 2 && !device.empty(); ++level) {
        std::ifstream flag(device + "/removable");
        char value = '0';
        if (flag >> value)
            return value == '1';
        device = device.substr(0, device.rfind('/'));
    }
    return false;
}

} // namespace

std::vector<MountEntry> ParseMountTable(std::string_view text) {
    std::vector<MountEntry> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::istringstream line{std::string(text.substr(start, end - start))};
        start = end + 1;
        std::string device, mountPoint, type, options;
        if (!(line >> device >> mountPoint >> type >> options))
            continue;
        MountEntry entry;
        entry.device = DecodeMountField(device);
        entry.mountPoint = DecodeMountField(mountPoint);
        entry.type = type;
        std::istringstream list(options);
        for (std::string option; std::getline(list, option, ',');)
            if (option == "ro")
                entry.readOnly = true;
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool IsLocalDiskFileSystem(std::string_view type) {
    static constexpr std::string_view kLocal[] = {
        "ext2",     "ext3",   "ext4", "xfs",   "btrfs", "f2fs",  "jfs",     "reiserfs", "zfs",
        "bcachefs", "nilfs2", "vfat", "exfat", "ntfs",  "ntfs3", "fuseblk", "hfsplus"};
    for (auto local : kLocal)
        if (type == local)
            return true;
    return false;
}

std::vector<std::string> LocalWritableMountPoints() {
    std::vector<std::string> points;
    for (const auto& entry : ParseMountTable(ReadSmallFile("/proc/self/mounts"))) {
        if (entry.readOnly || !IsLocalDiskFileSystem(entry.type))
            continue;
        if (!CanWriteFolder(entry.mountPoint) || IsOnRemovableMedia(entry.mountPoint))
            continue;
        points.push_back(entry.mountPoint);
    }
    return points;
}

std::uint32_t QueryAllowsExecution(const std::string& path, bool& allowed) {
    allowed = false;
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0)
        return LastWin32Error();
    allowed = (info.f_flag & ST_NOEXEC) == 0;
    return 0;
}

std::uint32_t GetFreeBytes(const std::string& path, std::uint64_t& freeBytes) {
    freeBytes = 0;
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0)
        return LastWin32Error();
    const std::uint64_t blocks = info.f_bavail;
    const std::uint64_t size = info.f_frsize;
    freeBytes = size != 0 && blocks > std::numeric_limits<std::uint64_t>::max() / size
                    ? std::numeric_limits<std::uint64_t>::max()
                    : blocks * size;
    return 0;
}

bool CanWriteFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::uint32_t CreatePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0)
        return 0;
    const int error = errno;
    return error == EEXIST ? kErrorAlreadyExists : Win32FromErrno(error);
}

} // namespace cptlib::platform
