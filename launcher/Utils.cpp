#include "launcher/Utils.h"

#include <boost/exception/get_error_info.hpp>

namespace sfx {

std::exception_ptr FileExceptionToSystemError(const cptlib::FileException& error) {
    std::string text = error.what();
    if (text.size() > 2048)
        text.resize(2048);
    // what() of the stream failure already ends with the code's message; keep the plain text.
    const std::string suffix = ": " + error.code().message();
    if (text.size() > suffix.size() &&
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
        text.resize(text.size() - suffix.size());
    try {
        cptlib::SystemError converted(error.code(), text);
        if (const auto* path = boost::get_error_info<cptlib::tag_errinfo_path>(error))
            converted << cptlib::tag_errinfo_path(*path);
        CPT_THROW(converted);
    } catch (...) {
        return std::current_exception();
    }
}

} // namespace sfx
