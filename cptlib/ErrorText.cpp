#include "cptlib/ErrorText.h"

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/Utf.h"

#include <boost/exception/get_error_info.hpp>
#include <boost/filesystem/exception.hpp>
#include <boost/system/system_error.hpp>

#include <optional>
#include <set>
#include <vector>

namespace cptlib {

namespace {

void EraseLast(std::string& text, const std::string& what) {
    if (what.empty())
        return;
    if (auto pos = text.rfind(what); pos != std::string::npos)
        text.erase(pos, what.size());
}

void EnsureFullStop(std::string& text) {
    if (text.empty() || text.back() != '.')
        text += '.';
}

struct CodeInfo {
    std::string details;
    std::string tag;
};

CodeInfo DescribeCode(const std::error_category& category, int value) {
    CodeInfo info;
    if (&category == &win32_category())
        info.details = Win32MessageText(static_cast<std::uint32_t>(value));
    if (info.details.empty()) {
        try {
            info.details = category.message(value);
        } catch (...) {
            info.details.clear();
        }
    }
    while (!info.details.empty() &&
           std::string_view(" \t\r\n").find(info.details.back()) != std::string_view::npos)
        info.details.pop_back();
    if (!IsValidUtf8(info.details))
        info.details.clear();
    info.tag = std::string(category.name()) + ":" + std::to_string(value);
    return info;
}

struct PathInfo {
    std::vector<std::string> paths; // positions kept; empty entries are skipped when shown
    std::optional<std::string> labels[2];
};

PathInfo CollectPaths(const std::exception& e) {
    PathInfo info;
    if (auto* fe = dynamic_cast<const boost::filesystem::filesystem_error*>(&e)) {
        if (!fe->path1().empty())
            info.paths.push_back(fe->path1().string());
        if (!fe->path2().empty())
            info.paths.push_back(fe->path2().string());
    } else if (auto* se = dynamic_cast<const std::filesystem::filesystem_error*>(&e)) {
        if (!se->path1().empty())
            info.paths.push_back(se->path1().string());
        if (!se->path2().empty())
            info.paths.push_back(se->path2().string());
    } else if (auto* be = dynamic_cast<const boost::exception*>(&e)) {
        if (auto* name = boost::get_error_info<boost::errinfo_file_name>(*be))
            info.paths.push_back(*name);
        if (auto* path = boost::get_error_info<tag_errinfo_path>(*be))
            info.paths.push_back(path->string());
        if (auto* path = boost::get_error_info<tag_errinfo_path2>(*be))
            info.paths.push_back(path->string());
    }
    if (auto* be = dynamic_cast<const boost::exception*>(&e)) {
        if (auto* label = boost::get_error_info<tag_errinfo_path_label>(*be))
            info.labels[0] = *label;
        if (auto* label = boost::get_error_info<tag_errinfo_path2_label>(*be))
            info.labels[1] = *label;
    }
    return info;
}

std::set<std::string> PathSet(const std::vector<std::string>& paths) {
    std::set<std::string> set;
    for (const auto& p : paths)
        if (!p.empty())
            set.insert(p);
    return set;
}

std::string Describe(const std::exception_ptr& error, int indent,
                     const std::set<std::string>& shownPaths) {
    const std::string prefix(static_cast<std::size_t>(indent), '\t');
    std::string out = prefix;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        // Each piece is built on its own so that a failure leaves only that piece empty.
        try {
            std::string what = e.what();
            if (!IsValidUtf8(what))
                what.clear();
            if (!what.empty()) {
                if (what[0] >= 'a' && what[0] <= 'z')
                    what[0] = static_cast<char>(what[0] - 'a' + 'A');
                EraseLast(what, ": unknown error");
                out += what;
            }
        } catch (...) {
        }

        std::optional<CodeInfo> code;
        try {
            if (auto* se = dynamic_cast<const std::system_error*>(&e))
                code = DescribeCode(se->code().category(), se->code().value());
            else if (auto* bse = dynamic_cast<const boost::system::system_error*>(&e)) {
                CodeInfo info;
                info.details = bse->code().message();
                if (!IsValidUtf8(info.details))
                    info.details.clear();
                info.tag = std::string(bse->code().category().name()) + ":" +
                           std::to_string(bse->code().value());
                code = info;
            }
        } catch (...) {
            code.reset();
        }
        if (code && (!code->details.empty() || !code->tag.empty())) {
            if (!code->details.empty())
                EraseLast(out, ": " + code->details);
            EnsureFullStop(out);
            out += "\n\n" + prefix + "Details:\n" + prefix + code->details;
            if (!code->tag.empty())
                out += " (" + code->tag + ")";
        } else {
            EnsureFullStop(out);
        }

        PathInfo paths;
        try {
            paths = CollectPaths(e);
        } catch (...) {
            paths = {};
        }
        const std::set<std::string> collected = PathSet(paths.paths);
        if (collected != shownPaths) {
            for (std::size_t i = 0; i < paths.paths.size(); ++i) {
                const std::string& path = paths.paths[i];
                if (path.empty() || !IsValidUtf8(path))
                    continue;
                out += "\n\n" + prefix;
                if (i < 2 && paths.labels[i])
                    out += *paths.labels[i];
                else {
                    out += "Path";
                    if (paths.paths.size() >= 2)
                        out += " " + std::to_string(i);
                }
                out += ":\n" + prefix + "\"" + path + "\"";
            }
        }

        if (auto* nested = dynamic_cast<const std::nested_exception*>(&e)) {
            if (std::exception_ptr inner = nested->nested_ptr()) {
                try {
                    std::rethrow_exception(inner);
                } catch (const std::exception&) {
                    out += "\n\n" + prefix + "Cause:\n" + Describe(inner, indent + 1, collected);
                } catch (...) {
                }
            }
        }
    } catch (...) {
        out += "Unknown exception.";
    }
    return out;
}

} // namespace

std::string ErrorText(const std::exception_ptr& error, int indent) {
    if (!error)
        return std::string(static_cast<std::size_t>(indent), '\t') + "Unknown exception.";
    return Describe(error, indent, {});
}

std::string ErrorText(int indent) { return ErrorText(std::current_exception(), indent); }

} // namespace cptlib
