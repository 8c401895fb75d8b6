#include "cptlib/ErrorText.h"
#include "cptlib/Exceptions.h"
#include "cptlib/PtreeErrorCategory.h"
#include "cptlib/SystemError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace {

using namespace cptlib;

template <class F> std::string TextOf(F&& thrower, int indent = 0) {
    try {
        thrower();
    } catch (...) {
        return ErrorText(indent);
    }
    return "<nothing thrown>";
}

TEST(ErrorText, DescribesTheCases) {
    struct Case {
        const char* name;
        std::function<void()> thrower;
        std::string expected;
    };
    const Case cases[] = {
        {"not a std::exception", [] { throw 42; }, "Unknown exception."},
        {"runtime error is capitalised", [] { throw std::runtime_error("no data"); }, "No data."},
        {"unknown error suffix removed",
         [] { throw std::system_error(MakeWin32Error(0x1234), "open failed"); },
         "Open failed.\n\nDetails:\nunknown error (system:4660)"},
        {"details of the system category, repeated details removed",
         [] { throw std::system_error(MakeWin32Error(kErrorFileNotFound), "Could not open file"); },
         "Could not open file.\n\nDetails:\nThe system cannot find the file specified. (system:2)"},
        {"other category uses its own message",
         [] { throw std::system_error(make_error_code(PtreeError::BadData), "XML error"); },
         "XML error.\n\nDetails:\nbad data (cptlib.ptree_error:3)"},
        {"two paths without captions",
         [] {
             CPT_THROW(RuntimeError("copy failed")
                       << tag_errinfo_path("/a") << tag_errinfo_path2("/b"));
         },
         "Copy failed.\n\nPath 0:\n\"/a\"\n\nPath 1:\n\"/b\""},
        {"captions replace Path",
         [] {
             CPT_THROW(RuntimeError("copy failed.")
                       << tag_errinfo_path("/a") << tag_errinfo_path_label("Source"));
         },
         "Copy failed.\n\nSource:\n\"/a\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TextOf(c.thrower), c.expected) << c.name;
}

TEST(ErrorText, NestedCauseSharesPathAndIsIndented) {
    auto thrower = [] {
        try {
            CPT_THROW(FileException("Could not open file", MakeWin32Error(kErrorAccessDenied))
                      << tag_errinfo_path("/x/setup.exe"));
        } catch (...) {
            CPT_THROW(NestedError<RuntimeError>("Failed to start the setup")
                      << tag_errinfo_path("/x/setup.exe"));
        }
    };
    EXPECT_EQ(TextOf(thrower),
              "Failed to start the setup.\n\nPath:\n\"/x/setup.exe\"\n\nCause:\n"
              "\tCould not open file.\n\n\tDetails:\n\tAccess is denied. (system:5)");
}

TEST(ErrorText, IndentPrefixesOwnLines) {
    auto thrower = [] { CPT_THROW(RuntimeError("bad") << tag_errinfo_path("/p")); };
    EXPECT_EQ(TextOf(thrower, 1), "\tBad.\n\n\tPath:\n\t\"/p\"");
}

TEST(SystemErrorText, FormatsSmallAndLargeCodes) {
    EXPECT_EQ(SystemErrorText(112), "There is not enough space on the disk. (112)");
    EXPECT_EQ(SystemErrorText(0x80070070), "There is not enough space on the disk. (0x80070070)");
    EXPECT_EQ(HResultFromWin32(kErrorSharingViolation), HRESULT_SHARING_VIOLATION);
    EXPECT_EQ(Win32FromErrno(ENOSPC), kErrorDiskFull);
    EXPECT_EQ(Win32FromErrno(ENAMETOOLONG), kErrorFilenameExcedRange);
    // An errno without a counterpart keeps the system's own text.
    EXPECT_EQ(Win32MessageText(Win32FromErrno(EHOSTDOWN)), std::string(strerror(EHOSTDOWN)) + ".");
}

// An errno that the run can meet reads as what it is: cut to a Win32 number of another meaning
// (EAGAIN as 11, "bad format") it would tell the user nothing, or something false.
TEST(SystemErrorText, EveryErrnoKeepsItsMeaningThroughAnHresult) {
    struct Case {
        int err;
        const char* words;
    };
    for (const Case c :
         {Case{EAGAIN, "system resources"}, Case{EMFILE, "too many files"}, Case{ENXIO, "device"},
          Case{ESTALE, "no longer valid"}, Case{EFBIG, "size exceeds"},
          Case{EIO, "I/O device error"}, Case{EINTR, "aborted"}, Case{EMLINK, "links"},
          Case{EHOSTDOWN, strerror(EHOSTDOWN)}}) {
        SCOPED_TRACE(strerror(c.err));
        const auto hr = static_cast<std::uint32_t>(HResultFromErrno(c.err));
        EXPECT_NE(Win32MessageText(hr).find(c.words), std::string::npos) << Win32MessageText(hr);
        // And back to the same errno, for code that compares with std::errc.
        EXPECT_EQ(std::error_code(static_cast<int>(Win32FromErrno(c.err)), win32_category()),
                  std::error_condition(c.err, std::generic_category()));
    }
}

TEST(PtreeErrorCategory, NamesMessagesAndEquivalence) {
    const auto& cat = ptree_error_category();
    EXPECT_STREQ(cat.name(), "cptlib.ptree_error");
    EXPECT_EQ(cat.message(2), "bad path");
    EXPECT_EQ(cat.message(3), "bad data");
    EXPECT_EQ(cat.message(7), "generic error");
    EXPECT_TRUE(cat.equivalent(std::make_error_code(std::errc::bad_address), 2));
    EXPECT_TRUE(cat.equivalent(std::make_error_code(std::errc::bad_message), 3));
    EXPECT_FALSE(cat.equivalent(std::make_error_code(std::errc::bad_message), 2));
    EXPECT_FALSE(cat.equivalent(std::make_error_code(std::errc::bad_message), 5));
}

} // namespace
