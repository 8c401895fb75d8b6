#include "common/setup/CommonSetupLogger.h"
#include "cptlib/ui/MessageBox.h"
#include "cptlib/ui/TerminalMessageBox.h"
#include "support/Presenter.h"

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace cptlib;

struct Record {
    int severity;
    std::string message;
    bool operator==(const Record&) const = default;
};

class CaptureBackend
    : public boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
public:
    std::vector<Record> records;
    void consume(const boost::log::record_view& rec) {
        auto severity = boost::log::extract<Severity>("Severity", rec);
        auto message = boost::log::extract<std::string>("Message", rec);
        records.push_back({severity ? static_cast<int>(*severity) : -1, message ? *message : ""});
    }
};

class MessageBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        backend = boost::make_shared<CaptureBackend>();
        sink = boost::make_shared<Sink>(backend);
        boost::log::core::get()->add_sink(sink);
        boost::log::core::get()->set_logging_enabled(true);
        presenter = std::make_shared<testsupport::ScriptedPresenter>();
        SetMessageBoxPresenter(presenter);
        SetAppName("Product X");
    }
    void TearDown() override {
        boost::log::core::get()->remove_sink(sink);
        SetMessageBoxPresenter(nullptr);
    }
    using Sink = boost::log::sinks::synchronous_sink<CaptureBackend>;
    boost::shared_ptr<CaptureBackend> backend;
    boost::shared_ptr<Sink> sink;
    std::shared_ptr<testsupport::ScriptedPresenter> presenter;
};

TEST_F(MessageBoxTest, UiLevelDecidesAndEveryCallIsLogged) {
    struct Case {
        int level;
        std::uint32_t type;
        bool shown;
        int severity;
        const char* skipRecord;
    };
    const char* silent = "Skipping MessageBox because UiLevel is Silent.";
    const char* notNormal = "Skipping MessageBox because UiLevel is not Normal and message is "
                            "neither error nor warning.";
    const Case cases[] = {
        {0, kMbIconError, false, 4, silent},
        {1, kMbIconError, true, 4, nullptr},
        {2, kMbIconWarning, true, 3, nullptr},
        {3, kMbIconInformation, false, 1, notNormal},
        {1, kMbOk, false, 1, notNormal},
        {4, kMbOk, true, 1, nullptr},
        {4, kMbIconQuestion | kMbYesNo, true, 1, nullptr},
    };
    for (const auto& c : cases) {
        backend->records.clear();
        presenter->shown.clear();
        const int result = ShowMessageBox("hello", c.type, 0, c.level, nullptr);
        EXPECT_EQ(result, c.shown ? kIdOk : 0) << c.level << "/" << c.type;
        EXPECT_EQ(presenter->shown.size(), c.shown ? 1u : 0u);
        std::vector<Record> expected = {
            {c.severity, "MessageBox: text='hello', type=" + std::to_string(c.type)}};
        if (c.skipRecord)
            expected.push_back({c.severity, c.skipRecord});
        else
            expected.push_back({c.severity, "MessageBox return value: 1"});
        EXPECT_EQ(backend->records, expected) << c.level << "/" << c.type;
    }
}

TEST_F(MessageBoxTest, ButtonsCaptionIconAndFlags) {
    presenter->mainVisible = false;
    ShowMessageBox("q?", kMbYesNoCancel | kMbIconQuestion | kMbDefButton2, 0, 4, nullptr);
    ASSERT_EQ(presenter->shown.size(), 1u);
    const auto& box = presenter->shown[0];
    EXPECT_EQ(box.caption, "Product X");
    EXPECT_EQ(box.iconKind, IconKind::Question);
    EXPECT_EQ(box.flags, 0x62u);
    ASSERT_EQ(box.buttons.size(), 3u);
    EXPECT_EQ(box.buttons[0].id, kIdYes);
    EXPECT_EQ(box.buttons[1].id, kIdNo);
    EXPECT_EQ(box.buttons[2].id, kIdCancel);
    EXPECT_TRUE(box.buttons[1].isDefault);
    EXPECT_FALSE(box.buttons[0].isDefault);
    // Without a string table the Id stands in for the text.
    EXPECT_EQ(box.buttons[0].text, "Yes");

    presenter->mainVisible = true;
    ShowMessageBox("x", 9 | kMbIconError, 0, 4, nullptr);
    EXPECT_EQ(presenter->shown[1].flags, 0x42u);
    ASSERT_EQ(presenter->shown[1].buttons.size(), 1u);
    EXPECT_EQ(presenter->shown[1].buttons[0].id, kIdOk);
    EXPECT_TRUE(presenter->shown[1].buttons[0].isDefault);
}

TEST(TerminalMessageBox, PromptsForAChoiceAndFallsBackWithoutAnswer) {
    MessageBoxContent box;
    box.caption = "Setup";
    box.content = "Overwrite?";
    box.iconKind = IconKind::Question;
    box.buttons = {{kIdYes, false, "&Yes"}, {kIdNo, true, "&No"}};

    struct Case {
        const char* input;
        bool terminal;
        int expected;
    };
    const Case cases[] = {
        {"1\n", true, kIdYes}, {"\n", true, kIdNo}, {"7\nyes\n", true, kIdYes},
        {"", true, kIdCancel}, {"1\n", false, 0},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.input);
        std::ostringstream out;
        TerminalMessageBox terminal(c.terminal ? &in : nullptr, out);
        EXPECT_EQ(terminal.Show(box), c.expected) << c.input;
        EXPECT_NE(out.str().find("[Setup - Question]\nOverwrite?\n"), std::string::npos);
        EXPECT_NE(out.str().find("2) No (default)"), std::string::npos);
    }
}

TEST(TerminalMessageBox, StripsAccelerators) {
    EXPECT_EQ(StripAccelerator("&Yes"), "Yes");
    EXPECT_EQ(StripAccelerator("Save && close"), "Save & close");
    EXPECT_EQ(StripAccelerator("End&"), "End");
}

} // namespace
