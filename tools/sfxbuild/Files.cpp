#include "sfxbuild/Build.h"

#include <algorithm>
#include <fstream>

namespace sfxbuild {

std::string Quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

std::string ReadFileRange(const std::filesystem::path& path, std::uint64_t offset,
                          std::uint64_t length) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string data(static_cast<std::size_t>(length), '\0');
    in.read(data.data(), static_cast<std::streamsize>(length));
    data.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return data;
}

} // namespace sfxbuild
