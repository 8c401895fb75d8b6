#include "cptlib/platform/XdgFolders.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cptlib::platform {

namespace {

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string Join(const std::string& folder, std::string_view below) {
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += below;
    return path;
}

std::string HomeFromAccount() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 ||
        result == nullptr || result->pw_dir == nullptr)
        return {};
    return result->pw_dir;
}

// One `KEY="value"` line; false when the line is not a usable entry.
bool ParseUserDirLine(std::string_view line, std::string_view home, std::string& key,
                      std::string& value) {
    auto skipBlanks = [&line] {
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
    };
    skipBlanks();
    constexpr std::string_view prefix = "XDG_";
    constexpr std::string_view suffix = "_DIR";
    if (line.substr(0, prefix.size()) != prefix)
        return false;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos)
        return false;
    std::string_view name = line.substr(0, equals);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    if (name.size() <= prefix.size() + suffix.size() ||
        name.substr(name.size() - suffix.size()) != suffix)
        return false;
    key.assign(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()));

    line.remove_prefix(equals + 1);
    skipBlanks();
    if (line.empty() || line.front() != '"')
        return false;
    line.remove_prefix(1);

    std::string raw;
    bool closed = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            raw += line[++i];
        } else if (line[i] == '"') {
            closed = true;
            break;
        } else {
            raw += line[i];
        }
    }
    if (!closed)
        return false;

    constexpr std::string_view homeVariable = "$HOME";
    if (raw.compare(0, homeVariable.size(), homeVariable) == 0) {
        const std::string rest = raw.substr(homeVariable.size());
        if ((!rest.empty() && rest.front() != '/') || home.empty())
            return false;
        value = WithoutTrailingSlashes(std::string(home) + rest);
    } else if (!raw.empty() && raw.front() == '/') {
        value = WithoutTrailingSlashes(raw);
    } else {
        return false;
    }
    if (value == WithoutTrailingSlashes(std::string(home)))
        value.clear();
    return true;
}

} // namespace

std::string GetHomeDirectory() {
    const char* home = std::getenv("HOME");
    // A relative HOME would follow the current folder: ignored like a relative XDG_* folder.
    std::string path = home != nullptr && home[0] == '/' ? home : HomeFromAccount();
    return WithoutTrailingSlashes(std::move(path));
}

std::string GetXdgBaseDirectory(const char* variable, std::string_view belowHome) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/')
        return WithoutTrailingSlashes(value);
    const std::string home = GetHomeDirectory();
    return home.empty() ? std::string() : Join(home, belowHome);
}

std::map<std::string, std::string> ParseUserDirs(std::string_view text, std::string_view home) {
    std::map<std::string, std::string> dirs;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        std::string key;
        std::string value;
        if (ParseUserDirLine(line, home, key, value))
            dirs[key] = value;
    }
    return dirs;
}

std::map<std::string, std::string> ReadUserDirs() {
    const std::string config = GetXdgBaseDirectory("XDG_CONFIG_HOME", ".config");
    if (config.empty())
        return {};
    std::ifstream file(std::filesystem::path(Join(config, "user-dirs.dirs")), std::ios::binary);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return ParseUserDirs(text.str(), GetHomeDirectory());
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateFolderPath(const std::string& path) {
    if (path.empty())
        return false;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path), ec);
    return IsDirectory(path);
}

} // namespace cptlib::platform
