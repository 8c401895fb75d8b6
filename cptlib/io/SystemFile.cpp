#include "cptlib/io/SystemFile.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/FileIo.h"
#include "cptlib/platform/StdioFile.h"

#include <cerrno>
#include <limits>
#include <stdexcept>

namespace cptlib {

namespace {

std::error_code InvalidArgument() {
    return std::make_error_code(std::errc::invalid_argument);
}

FileException OpenError(const std::string& message, std::error_code code,
                        const std::filesystem::path& path, FileOpenMode mode, FileShareMode share) {
    FileException e(message, code);
    e << tag_errinfo_file_op(FileOp::Open) << tag_errinfo_openmode(mode)
      << tag_errinfo_sharemode(share) << tag_errinfo_path(path);
    return e;
}

} // namespace

template <class Ch>
std::streampos FileDeviceBase<Ch>::open(const std::filesystem::path& path, FileOpenMode mode,
                                        FileShareMode share) {
    close();
    std::uint32_t access = 0;
    if (HasFlag(mode, FileOpenMode::In))
        access |= static_cast<std::uint32_t>(platform::FileAccess::Read);
    platform::CreationDisposition disposition = platform::CreationDisposition::OpenExisting;
    if (HasFlag(mode, FileOpenMode::Out)) {
        access |= static_cast<std::uint32_t>(platform::FileAccess::Write);
        disposition = HasFlag(mode, FileOpenMode::Trunc)
                          ? platform::CreationDisposition::CreateAlways
                          : platform::CreationDisposition::OpenAlways;
    } else if (HasFlag(mode, FileOpenMode::Trunc)) {
        CPT_THROW(OpenError("Cannot truncate file that was opened in read-only mode",
                            InvalidArgument(), path, mode, share));
    } else if (HasFlag(mode, FileOpenMode::Ate) || HasFlag(mode, FileOpenMode::App)) {
        CPT_THROW(OpenError("Cannot append to file that was opened in read-only mode",
                            InvalidArgument(), path, mode, share));
    }

    // POSIX has no share modes; they are kept for the error information.
    auto file = std::make_shared<CurrentFile>();
    if (const std::uint32_t error = platform::OpenFile(file->handle, path, access, disposition);
        error != kErrorSuccess) {
        FileException e =
            OpenError("Could not open file", MakeWin32Error(error), path, mode, share);
        CPT_THROW(e << boost::errinfo_api_function("CreateFile"));
    }
    file->path = path;
    file->mode = mode;
    file->share = share;
    current_ = std::move(file);
    if (HasFlag(mode, FileOpenMode::Ate))
        return seek(0, std::ios_base::end);
    return 0;
}

template <class Ch> void FileDeviceBase<Ch>::close() {
    current_.reset();
}

template <class Ch>
std::streampos FileDeviceBase<Ch>::seek(boost::iostreams::stream_offset offset,
                                        std::ios_base::seekdir way) {
    platform::SeekOrigin origin = platform::SeekOrigin::Begin;
    if (way == std::ios_base::cur)
        origin = platform::SeekOrigin::Current;
    else if (way == std::ios_base::end)
        origin = platform::SeekOrigin::End;
    static const platform::FileDescriptor none;
    std::uint64_t position = 0;
    if (const std::uint32_t error =
            platform::SeekFile(current_ ? current_->handle : none, offset, origin, position);
        error != kErrorSuccess) {
        FileException e("Could not seek in file", MakeWin32Error(error));
        AddFileInfo(e);
        CPT_THROW(e << boost::errinfo_api_function("SetFilePointerEx")
                    << tag_errinfo_file_op(FileOp::Seek));
    }
    return boost::iostreams::offset_to_position(
        static_cast<boost::iostreams::stream_offset>(position));
}

template <class Ch> bool FileDeviceBase<Ch>::flush() {
    static const platform::FileDescriptor none;
    if (const std::uint32_t error = platform::FlushFile(current_ ? current_->handle : none);
        error != kErrorSuccess) {
        FileException e("Could not flush file", MakeWin32Error(error));
        AddFileInfo(e);
        CPT_THROW(e << boost::errinfo_api_function("FlushFileBuffers")
                    << tag_errinfo_file_op(FileOp::Flush));
    }
    return true;
}

template <class Ch> std::int32_t FileDeviceBase<Ch>::handle() const noexcept {
    return current_ ? static_cast<std::int32_t>(platform::HandleNumber(current_->handle.get()))
                    : -1;
}

template <class Ch> std::filesystem::path FileDeviceBase<Ch>::path() const {
    return current_ ? current_->path : std::filesystem::path();
}

template <class Ch> FileOpenMode FileDeviceBase<Ch>::mode() const noexcept {
    return current_ ? current_->mode : FileOpenMode::None;
}

template <class Ch> FileShareMode FileDeviceBase<Ch>::share() const noexcept {
    return current_ ? current_->share : FileShareMode::None;
}

template <class Ch> void FileDeviceBase<Ch>::AddFileInfo(FileException& e) const {
    e << tag_errinfo_handle(handle()) << tag_errinfo_openmode(mode())
      << tag_errinfo_sharemode(share()) << tag_errinfo_path(path());
}

template <class Ch>
std::streampos FileDeviceIn<Ch>::open(const std::filesystem::path& path, FileOpenMode mode,
                                      FileShareMode share) {
    return FileDeviceBase<Ch>::open(path, mode | FileOpenMode::In, share);
}

template <class Ch> std::streamsize FileDeviceIn<Ch>::read(Ch* buffer, std::streamsize count) {
    const auto* file = this->current();
    if (file == nullptr || !HasFlag(file->mode, FileOpenMode::In)) {
        FileException e("cannot read from file that was opened in write-only mode",
                        InvalidArgument());
        this->AddFileInfo(e);
        CPT_THROW(e << tag_errinfo_file_op(FileOp::Read));
    }
    if (count < 0 ||
        static_cast<std::uint64_t>(count) > std::numeric_limits<std::uint32_t>::max()) {
        FileException e("cannot read more than 4 GiB at once", InvalidArgument());
        this->AddFileInfo(e);
        CPT_THROW(e << tag_errinfo_file_op(FileOp::Read));
    }
    std::uint32_t read = 0;
    if (const std::uint32_t error =
            platform::ReadFile(file->handle, buffer, static_cast<std::uint32_t>(count), read);
        error != kErrorSuccess) {
        FileException e("Could not read file", MakeWin32Error(error));
        this->AddFileInfo(e);
        CPT_THROW(e << boost::errinfo_api_function("ReadFile")
                    << tag_errinfo_file_op(FileOp::Read));
    }
    return static_cast<std::streamsize>(read);
}

template class FileDeviceBase<char>;
template class FileDeviceIn<char>;

CStdioFileA::~CStdioFileA() = default;

void CStdioFileA::Open(const std::filesystem::path& path) {
    file_.reset();
    path_ = path;
    // Binary on this system; the line ends are converted in WriteString.
    std::FILE* file = platform::OpenStdioFile(path, "wb");
    if (file == nullptr) {
        FileException e("Could not open file", MakeWin32Error(LastWin32Error()));
        CPT_THROW(e << tag_errinfo_file_op(FileOp::Open)
                    << tag_errinfo_openmode(FileOpenMode::Out | FileOpenMode::Trunc)
                    << tag_errinfo_path(path));
    }
    file_.reset(file);
}

FileException CStdioFileA::WriteFailed() const {
    FileException e("Could not write file", MakeWin32Error(kErrorDiskFull));
    e << tag_errinfo_file_op(FileOp::Write) << tag_errinfo_path(path_);
    return e;
}

void CStdioFileA::WriteString(const char* text) {
    if (text == nullptr)
        CPT_THROW(WithInfo<std::invalid_argument>("CStdioFileA::WriteString: null string"));
    WriteString(std::string_view(text));
}

void CStdioFileA::WriteString(std::string_view text) {
    if (!file_) {
        FileException e("Could not write file", MakeWin32Error(kErrorInvalidHandle));
        CPT_THROW(e << tag_errinfo_file_op(FileOp::Write) << tag_errinfo_path(path_));
    }
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t feed = text.find('\n', begin);
        const std::size_t end = feed == std::string_view::npos ? text.size() : feed;
        if (std::fwrite(text.data() + begin, 1, end - begin, file_.get()) != end - begin ||
            (feed != std::string_view::npos && std::fputs("\r\n", file_.get()) == EOF))
            CPT_THROW(WriteFailed());
        begin = end + 1;
    }
}

void CStdioFileA::Close() {
    if (!file_)
        return;
    // Buffered bytes reach the disk only here, so a full disk may show up first at closing.
    std::FILE* file = file_.release();
    if (std::fclose(file) != 0)
        CPT_THROW(WriteFailed());
}

} // namespace cptlib
