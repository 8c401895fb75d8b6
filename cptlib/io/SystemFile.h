#pragma once
// A system file as a seekable device of Boost.Iostreams, so that a file can be read through an
// ordinary input stream with every failure reported as a FileException; and a narrow text file
// for small line-oriented outputs.

#include "cptlib/Exceptions.h"
#include "cptlib/platform/File.h"

#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/positioning.hpp>
#include <boost/iostreams/stream.hpp>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ios>
#include <memory>
#include <string_view>

namespace cptlib {

template <class Ch> class FileDeviceBase {
    static_assert(std::is_same_v<Ch, char>, "the device reads bytes");

public:
    using char_type = Ch;

    // The state of an open file. Copies of a device (the stream library copies devices) share
    // one, and the last owner closes the handle.
    struct CurrentFile {
        platform::FileDescriptor handle;
        std::filesystem::path path;
        FileOpenMode mode = FileOpenMode::None;
        FileShareMode share = FileShareMode::None;
    };

    FileDeviceBase() = default;
    FileDeviceBase(const FileDeviceBase&) = default;
    FileDeviceBase& operator=(const FileDeviceBase&) = default;
    virtual ~FileDeviceBase() = default;

    // Closes any open file first. Without Out, Trunc, Ate and App are refused; with Out the file
    // is created when missing (and truncated with Trunc). With Ate the position moves to the end
    // of the file, which is returned; otherwise 0.
    virtual std::streampos open(const std::filesystem::path& path, FileOpenMode mode,
                                FileShareMode share);
    // Releases this device's share of the file.
    virtual void close();
    // `way` other than cur or end counts as beg.
    virtual std::streampos seek(boost::iostreams::stream_offset offset, std::ios_base::seekdir way);
    virtual bool flush();

    bool is_open() const noexcept { return current_ != nullptr; }
    // -1 when closed.
    std::int32_t handle() const noexcept;
    std::filesystem::path path() const;
    FileOpenMode mode() const noexcept;
    FileShareMode share() const noexcept;

protected:
    const CurrentFile* current() const noexcept { return current_.get(); }
    // Attaches handle, modes and path of the current file (or their empty values).
    void AddFileInfo(FileException& e) const;

private:
    std::shared_ptr<CurrentFile> current_;
};

template <class Ch> class FileDeviceIn : public FileDeviceBase<Ch> {
public:
    struct category : boost::iostreams::input_seekable,
                      boost::iostreams::device_tag,
                      boost::iostreams::closable_tag {};

    FileDeviceIn() = default;
    explicit FileDeviceIn(const std::filesystem::path& path, FileOpenMode mode = FileOpenMode::In,
                          FileShareMode share = FileShareMode::Read) {
        FileDeviceIn::open(path, mode, share);
    }

    // The base's open with In added.
    std::streampos open(const std::filesystem::path& path, FileOpenMode mode,
                        FileShareMode share) override;
    // The number of bytes read, 0 at the end of the file.
    std::streamsize read(Ch* buffer, std::streamsize count);
};

extern template class FileDeviceBase<char>;
extern template class FileDeviceIn<char>;

// A seekable input stream over a file; construct it with the path (mode In, share Read).
using FileInStream = boost::iostreams::stream<FileDeviceIn<char>>;

// A narrow text file opened for writing (created or truncated). Every line feed is written as
// carriage return and line feed, the way a text-mode file on the system the format comes from
// writes it.
class CStdioFileA {
public:
    CStdioFileA() = default;
    // Opens as Open does.
    explicit CStdioFileA(const std::filesystem::path& path) { Open(path); }
    ~CStdioFileA();
    CStdioFileA(const CStdioFileA&) = delete;
    CStdioFileA& operator=(const CStdioFileA&) = delete;

    // Throws FileException "Could not open file" with the system's code and the path.
    void Open(const std::filesystem::path& path);
    // A null pointer is an invalid argument (std::invalid_argument). A failing write throws
    // FileException with the disk-full code and the path.
    void WriteString(const char* text);
    void WriteString(std::string_view text);
    // Writes out what is buffered; a failure throws as a failed write does. Closing a closed
    // file does nothing.
    void Close();
    bool IsOpen() const noexcept { return file_ != nullptr; }
    const std::filesystem::path& GetFilePath() const noexcept { return path_; }

private:
    struct Closer {
        void operator()(std::FILE* file) const noexcept { std::fclose(file); }
    };
    FileException WriteFailed() const;

    std::unique_ptr<std::FILE, Closer> file_;
    std::filesystem::path path_;
};

} // namespace cptlib
