#pragma once
// Where the archive goes: path rules and the random extract folder name.

#include <filesystem>
#include <string>

namespace sfx {

bool IsAbsolutePath(const std::string& path);
// Appends "/" to a non-empty path that does not end with one.
std::string AddTrailingSlash(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);
// The text after the last "/", or between the last two when the path ends with one.
std::string LastPathComponent(const std::string& path);
// The text before the last "." of the last component.
std::string WithoutExtension(const std::string& name);

// "vrn" and 8 characters drawn from the start-up-seeded generator.
std::string MakeRandomFolderName();

// The extract-only folder: empty -> the current folder joined with the program's base name;
// relative -> below the current folder; absolute -> as given.
std::string CompleteExtractOnlyFolder(const std::string& extractDir,
                                      const std::filesystem::path& programPath);

} // namespace sfx
