#include "common/setup/InstallStringResources.h"
#include "cptlib/Exceptions.h"
#include "cptlib/PtreeErrorCategory.h"
#include "cptlib/localization/MemStringResources.h"
#include "cptlib/localization/XmlStringResourcesLoader.h"
#include "support/Files.h"
#include "support/ScopedEnv.h"
#include "support/StringTables.h"

#include <boost/exception/get_error_info.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <streambuf>

namespace {

using namespace cptlib;

// Fills fixed texts and records the cultures it was asked for.
class FakeLoader : public IStringResourceLoader {
public:
    explicit FakeLoader(StringMap texts_, CultureSet cultures_ = {})
        : texts(std::move(texts_)), cultures(std::move(cultures_)) {}

    CultureSet GetAllCultures() const override { return cultures; }
    void LoadInto(StringMap& strings, const std::string& culture) override {
        requested.push_back(culture);
        for (const auto& [id, text] : texts)
            strings[id] = text + (tagWithCulture ? "@" + culture : "");
        if (fail)
            throw std::runtime_error("table damaged");
    }

    StringMap texts;
    CultureSet cultures;
    bool tagWithCulture = false;
    bool fail = false;
    std::vector<std::string> requested;
};

template <class E, class F> E Catch(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "nothing thrown";
    throw std::logic_error("nothing thrown");
}

TEST(MemStringResources, WithoutLoadersLoadAndCulturesFail) {
    MemStringResources strings;
    strings.AddLoader(nullptr);
    EXPECT_TRUE(strings.GetLoaders().empty());
    EXPECT_STREQ(Catch<std::runtime_error>([&] { strings.Load("en-US"); }).what(),
                 "Cannot load string resources: No resource loader defined");
    EXPECT_STREQ(Catch<std::runtime_error>([&] { strings.GetAllCultures(); }).what(),
                 "Cannot get available cultures: No resource loader defined");

    strings.AddLoader(std::make_shared<FakeLoader>(StringMap{{"OK", "OK"}}));
    strings.RemoveLoaders();
    EXPECT_THROW(strings.Load("en-US"), std::runtime_error);
}

TEST(MemStringResources, LaterLoaderOverridesAndIdsAreCaseSensitive) {
    auto first = std::make_shared<FakeLoader>(StringMap{{"OK", "OK"}, {"Cancel", "Cancel"}});
    auto second = std::make_shared<FakeLoader>(StringMap{{"Cancel", "Abbrechen"}});
    MemStringResources strings;
    strings.AddLoader(first);
    strings.AddLoader(second);
    strings.Load("de-DE");

    EXPECT_EQ(first->requested, std::vector<std::string>{"de-DE"});
    EXPECT_EQ(second->requested, std::vector<std::string>{"de-DE"});
    EXPECT_EQ(strings.GetCulture(), "de-DE");
    EXPECT_EQ(strings.GetText("Cancel"), "Abbrechen");
    EXPECT_EQ(strings.GetText("OK"), "OK");
    EXPECT_EQ(strings.GetText("ok"), "");
    EXPECT_EQ(strings.GetText("Missing"), "");
    EXPECT_EQ(strings.GetIds(), (std::set<std::string>{"Cancel", "OK"}));

    strings.SetText("SfxProgressTitle", "%d %% Entpacken");
    EXPECT_EQ(strings.GetText("SfxProgressTitle"), "%d %% Entpacken");
}

TEST(MemStringResources, LoadsAgainOnlyForAnotherCultureOrAfterClear) {
    auto loader = std::make_shared<FakeLoader>(StringMap{{"OK", "OK"}});
    loader->tagWithCulture = true;
    MemStringResources strings;
    strings.AddLoader(loader);

    strings.Load("en-US");
    strings.Load("en-US");
    EXPECT_EQ(loader->requested.size(), 1u);

    // Culture names compare exactly here.
    strings.Load("EN-us");
    EXPECT_EQ(strings.GetText("OK"), "OK@EN-us");

    strings.Clear();
    EXPECT_EQ(strings.GetText("OK"), "");
    EXPECT_EQ(strings.GetCulture(), "EN-us");
    strings.Load("EN-us");
    EXPECT_EQ(loader->requested, (std::vector<std::string>{"en-US", "EN-us", "EN-us"}));
    EXPECT_EQ(strings.GetText("OK"), "OK@EN-us");
}

TEST(MemStringResources, LoaderErrorKeepsThePreviousTexts) {
    auto loader = std::make_shared<FakeLoader>(StringMap{{"OK", "OK"}});
    loader->tagWithCulture = true;
    MemStringResources strings;
    strings.AddLoader(loader);
    strings.Load("en-US");

    loader->fail = true;
    EXPECT_THROW(strings.Load("de-DE"), std::runtime_error);
    EXPECT_EQ(strings.GetCulture(), "en-US");
    EXPECT_EQ(strings.GetText("OK"), "OK@en-US");
}

TEST(MemStringResources, CulturesAreTheUnionWithoutRegardToCase) {
    MemStringResources strings;
    strings.AddLoader(std::make_shared<FakeLoader>(StringMap{}, CultureSet{"en-US", "de-DE"}));
    strings.AddLoader(std::make_shared<FakeLoader>(StringMap{}, CultureSet{"EN-us", "fr-FR"}));
    const CultureSet cultures = strings.GetAllCultures();
    EXPECT_EQ(std::vector<std::string>(cultures.begin(), cultures.end()),
              (std::vector<std::string>{"de-DE", "en-US", "fr-FR"}));
}

TEST(InstallStringResources, ExpandsOnlyTheKnownProperties) {
    zqmsi::InstallStringResources strings;
    strings.AddLoader(std::make_shared<FakeLoader>(StringMap{
        {"Title", "[ProductName] Setup"},
        {"Short", "[ProductNameShort] ([1])"},
        {"Help", "Usage: setup.exe [parameter]"},
    }));
    strings.Load("");
    const IStringResources& table = strings;

    EXPECT_EQ(table.GetText("Title"), "[ProductName] Setup");

    strings.properties["ProductName"] = "Acme [ProductName]";
    EXPECT_EQ(table.GetText("Title"), "Acme [ProductName] Setup");
    EXPECT_EQ(table.GetText("Short"), "[ProductNameShort] ([1])");
    EXPECT_EQ(table.GetText("Help"), "Usage: setup.exe [parameter]");
    EXPECT_EQ(table.GetText("Missing"), "");

    strings.properties["ProductName"] = "";
    EXPECT_EQ(table.GetText("Title"), " Setup");
}

// Wraps the body in a carried-format document: byte-order mark, declaration, style sheet,
// CR LF line ends.
std::string Table(const std::string& body, const std::string& root = "VrnSetupLocalization",
                  const std::string& rootAttributes = "") {
    return "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
           "<?xml-stylesheet type=\"text/xsl\" href=\"VrnSetupText.xsl\"?>\r\n<" +
           root + rootAttributes + ">\r\n\t<!-- group -->\r\n" + body + "\r\n</" + root + ">\r\n";
}

std::string Repeat(const std::string& piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += piece;
    return text;
}

StringMap Load(const std::string& xml, const std::string& root = "") {
    StringMap strings;
    std::istringstream in(xml);
    LoadXmlStringResources(&strings, in, root);
    return strings;
}

TEST(LoadXmlStringResources, ReadsTextsAsTheTableWritesThem) {
    struct Case {
        std::string content;
        std::string expected;
    };
    const Case cases[] = {
        {"OK", "OK"},
        {"&amp;Yes", "&Yes"},
        {"&lt;b&gt; &quot;q&quot; &apos;a&apos;", "<b> \"q\" 'a'"},
        {"&#x4E2D;&#25991;", "中文"},
        {"Größe", "Größe"},
        {"%d %% Extracting...", "%d %% Extracting..."},
        {R"(one\ntwo)", "one\ntwo"},
        {R"(a\tb)", "a\tb"},
        {R"(C:\\Temp)", "C:\\Temp"},
        // Line breaks are replaced first, so a doubled backslash before n leaves one backslash
        // and a line break.
        {R"(a\\nb)", "a\\\nb"},
        {R"(a\\tb)", "a\\\tb"},
        {"  leading and trailing \t ", "leading and trailing"},
        {"line one\r\n\t\t  line two", "line one line two"},
        {"[ProductName] [1]", "[ProductName] [1]"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const StringMap strings = Load(Table("\t<String Id=\"T\">" + c.content + "</String>"));
        ASSERT_EQ(strings.count("T"), 1u) << c.content;
        EXPECT_EQ(strings.at("T"), c.expected) << c.content;
    }
    EXPECT_EQ(Load(Table("\t<String Id=\"E\"/>")).at("E"), "");
}

TEST(LoadXmlStringResources, TakesOnlyDirectStringChildrenOfTheRoot) {
    const std::string body = "\t<String Id=\"A\">first</String>\r\n"
                             "\t<String Id=\"B\">b</String>\r\n"
                             "\t<String Id=\"A\">second</String>\r\n"
                             "\t<Group><String Id=\"Nested\">n</String></Group>\r\n"
                             "\t<string Id=\"Lower\">l</string>\r\n"
                             "\t<String Id=\"Mixed\">x<b>bold</b>y</String>\r\n";
    const StringMap expected = {{"A", "second"}, {"B", "b"}, {"Mixed", "xy"}};
    // The root's name is not checked.
    EXPECT_EQ(Load(Table(body, "OtherRoot", " Id=\"Root\"")), expected);
    // Without the byte-order mark just the same.
    EXPECT_EQ(Load(Table(body).substr(3)), expected);
    EXPECT_EQ(Load(Table(body, "Strings"), "Strings"), expected);
}

TEST(LoadXmlStringResources, ReadsTablesNestedUpToTheLimit) {
    // With the root 64 levels; tags in comments, CDATA sections and attribute values and
    // empty elements do not count.
    const std::string body = "<!-- " + Repeat("<a>", 100) + " -->" + Repeat("<e/>", 100) +
                             "<String Id=\"D\" x='a>b'>d<![CDATA[" + Repeat("<c>", 100) +
                             "]]></String>" + Repeat("<g>", 63) + Repeat("</g>", 63);
    const StringMap strings = Load(Table(body));
    ASSERT_EQ(strings.count("D"), 1u);
    EXPECT_EQ(strings.at("D"), "d" + Repeat("<c>", 100));
}

TEST(LoadXmlStringResources, ReportsBadTablesAsXmlErrors) {
    struct Case {
        std::string name;
        std::string xml;
        std::string root;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {"named root missing", Table("<String Id=\"A\">a</String>"), "Strings", 3,
         "XML error (root element 'Strings' not found)"},
        {"no element at all", "<?xml version=\"1.0\"?>\r\n<!-- nothing -->\r\n", "", 3,
         "XML error (root element '' not found)"},
        {"String without Id", Table("<String Id=\"A\">a</String><String>b</String>"), "", 2,
         "XML error: No such node (<xmlattr>.Id)"},
        {"invalid UTF-8", Table("<String Id=\"A\">a\xC3</String>"), "", 3,
         "XML error: invalid UTF-8 text"},
        {"surrogate reference", Table("<String Id=\"A\">&#xD800;</String>"), "", 3,
         "XML error: invalid UTF-8 text"},
        // The reader recurses per level: such a table used to overflow the stack.
        {"nested too deep", Table(Repeat("<a>", 100000) + Repeat("</a>", 100000)), "", 3,
         "XML error: elements nested deeper than 64 levels"},
        {"unclosed nesting", Repeat("<a x='>'>", 65), "", 3,
         "XML error: elements nested deeper than 64 levels"},
    };
    for (const auto& c : cases) {
        StringMap strings;
        std::istringstream in(c.xml);
        try {
            LoadXmlStringResources(&strings, in, c.root);
            ADD_FAILURE() << c.name << ": nothing thrown";
        } catch (const SystemError& e) {
            EXPECT_EQ(e.code(), std::error_code(c.code, ptree_error_category())) << c.name;
            EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << c.name << ": " << e.what();
            EXPECT_NE(boost::get_error_info<boost::throw_function>(e), nullptr) << c.name;
        }
    }
}

TEST(LoadXmlStringResources, KeepsTheIdsReadBeforeAnError) {
    StringMap strings;
    std::istringstream in(Table("<String Id=\"A\">a</String><String>b</String>"
                                "<String Id=\"C\">c</String>"));
    EXPECT_THROW(LoadXmlStringResources(&strings, in, ""), SystemError);
    EXPECT_EQ(strings, (StringMap{{"A", "a"}}));
}

TEST(LoadXmlStringResources, MalformedXmlRaisesTheParseError) {
    for (const std::string& xml :
         {Table("<String Id=\"A\">a</String"), Table("<String Id=A>a</String>"),
          Table("<String Id=\"A\">a</String>") + "<", std::string("<Root><String Id=\"A\">a")}) {
        StringMap strings;
        std::istringstream in(xml);
        EXPECT_THROW(LoadXmlStringResources(&strings, in, ""),
                     boost::property_tree::xml_parser_error)
            << xml;
    }
}

// A resource stream whose bytes cannot be read.
class FailingBuffer : public std::streambuf {
protected:
    int_type underflow() override { throw std::runtime_error("device gone"); }
};

TEST(LoadXmlStringResources, AFailedReadIsAnError) {
    FailingBuffer buffer;
    std::istream in(&buffer);
    in.exceptions(std::ios_base::badbit);
    StringMap strings;
    try {
        LoadXmlStringResources(&strings, in, "");
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "device gone");
    }

    std::istream quiet(&buffer);
    EXPECT_THROW(LoadXmlStringResources(&strings, quiet, ""),
                 boost::property_tree::xml_parser_error);
    EXPECT_TRUE(strings.empty());
}

TEST(StringTableLocation, GivesTheCulturesLanguageOrNone) {
    const ResourceLocation base{"/opt/app/image", ResourceId("ZQ_XML_STRING"), ResourceId(1), {}};
    struct Case {
        std::string culture;
        std::optional<std::uint16_t> language;
    };
    const Case cases[] = {
        {"", std::nullopt}, {"en-US", 1033},         {"de-DE", 1031},         {"DE-de", 1031},
        {"de", 7},          {"xx-YY", std::nullopt}, {"de_DE", std::nullopt},
    };
    for (const auto& c : cases) {
        const ResourceLocation location = StringTableLocation(base, c.culture);
        EXPECT_EQ(location.language, c.language) << c.culture;
        EXPECT_EQ(location.module, base.module);
        EXPECT_EQ(location.type.name, "ZQ_XML_STRING");
        EXPECT_TRUE(location.name.name.empty());
        EXPECT_EQ(location.name.id, 1);
    }
}

// The tables linked into this test program, as the launcher carries them.
TEST(XmlAppStringResourceLoader, ReadsTheCarriedTable) {
    const StringMap english =
        Load(testsupport::ReadFile(testsupport::StringTableFile("en-US.xml")));
    ASSERT_EQ(english.count("OK"), 1u);

    zqmsi::InstallStringResources strings;
    strings.AddLoader(std::make_shared<XmlAppStringResourceLoader>());
    strings.Load("en-US");
    EXPECT_EQ(strings.GetText("Yes"), "&Yes");
    EXPECT_EQ(strings.GetText("SfxCommandLineHelp").rfind("Usage: [SfxProgramFile] [options]\n", 0),
              0u);
    EXPECT_EQ(strings.GetText("SelectTargetDirAppTitle"), "");

    // Without a language, or with one the language table lacks, some table is chosen; each
    // holds the same Ids.
    for (const std::string culture : {"en-US", "EN-us", "", "xx-YY", "de_DE"}) {
        StringMap loaded;
        XmlAppStringResourceLoader().LoadInto(loaded, culture);
        if (culture == "en-US" || culture == "EN-us") {
            EXPECT_EQ(loaded, english) << culture;
            continue;
        }
        for (const auto& entry : english)
            EXPECT_EQ(loaded.count(entry.first), 1u) << culture << ": " << entry.first;
    }
}

// A culture of either Chinese script reaches that script's table; without a culture the user's
// languages decide, LANGUAGE first unless the messages locale is C.
TEST(XmlAppStringResourceLoader, ChineseScriptsAndTheUsersLanguageList) {
    const auto table = [](const char* file) {
        return Load(testsupport::ReadFile(testsupport::StringTableFile(file)));
    };
    const StringMap traditional = table("zh-TW.xml");
    const StringMap simplified = table("zh-CN.xml");
    const StringMap german = table("de.xml");
    const StringMap japanese = table("ja-JP.xml");
    const StringMap english = table("en-US.xml");
    ASSERT_NE(traditional, simplified);

    struct Case {
        const char* culture;
        const char* language; // LANGUAGE
        const char* lang;     // LANG
        const StringMap* expected;
    };
    const Case cases[] = {
        {"zh-TW", nullptr, nullptr, &traditional},
        {"zh-HK", nullptr, nullptr, &traditional},
        {"zh-MO", nullptr, nullptr, &traditional},
        {"zh-Hant", nullptr, nullptr, &traditional},
        {"zh-CN", nullptr, nullptr, &simplified},
        {"zh-SG", nullptr, nullptr, &simplified},
        {"zh-Hans", nullptr, nullptr, &simplified},
        {"", nullptr, "zh_HK.UTF-8", &traditional},
        {"", nullptr, "zh_MO.UTF-8", &traditional},
        {"", nullptr, "zh_SG.UTF-8", &simplified},
        {"", nullptr, "de_DE.UTF-8", &german},
        {"", "ja:de", "de_DE.UTF-8", &japanese},
        {"", "zh_HK:ja", "en_US.UTF-8", &traditional},
        // Entries without a table are passed over; an unknown country keeps its language.
        {"", "eo:de_XX", "en_US.UTF-8", &german},
        {"", "", "de_DE.UTF-8", &german},
        // Under the C locale (also when nothing is set) LANGUAGE does not count.
        {"", "ja", "C", &english},
        {"", "ja", "POSIX", &english},
        {"", "ja", nullptr, &english},
    };
    for (const auto& c : cases) {
        testsupport::ScopedEnv env;
        env.Set("LC_ALL", std::nullopt);
        env.Set("LC_MESSAGES", std::nullopt);
        env.Set("LANGUAGE", c.language ? std::optional<std::string>(c.language) : std::nullopt);
        env.Set("LANG", c.lang ? std::optional<std::string>(c.lang) : std::nullopt);
        StringMap loaded;
        XmlAppStringResourceLoader().LoadInto(loaded, c.culture);
        EXPECT_TRUE(loaded == *c.expected)
            << "culture '" << c.culture << "' LANGUAGE " << (c.language ? c.language : "-")
            << " LANG " << (c.lang ? c.lang : "-");
    }
}

TEST(XmlAppStringResourceLoader, FailuresReachTheCaller) {
    EXPECT_STREQ(
        Catch<std::runtime_error>([] { XmlAppStringResourceLoader().GetAllCultures(); }).what(),
        "Cannot get available cultures: Function not implemented yet");

    zqmsi::InstallStringResources strings;
    strings.AddLoader(std::make_shared<XmlAppStringResourceLoader>());
    strings.Load("en-US");

    strings.RemoveLoaders();
    strings.AddLoader(std::make_shared<XmlAppStringResourceLoader>(
        "", ResourceLocation{{}, ResourceId("ZQ_XML_STRING"), ResourceId(2), {}}));
    EXPECT_THROW(strings.Load("de-DE"), AppResourceError);

    strings.RemoveLoaders();
    strings.AddLoader(std::make_shared<XmlAppStringResourceLoader>(
        "Strings", ResourceLocation{{}, ResourceId("ZQ_XML_STRING"), ResourceId(1), {}}));
    const auto error = Catch<SystemError>([&] { strings.Load("de-DE"); });
    EXPECT_EQ(error.code(), make_error_code(PtreeError::BadData));

    EXPECT_EQ(strings.GetCulture(), "en-US");
    EXPECT_EQ(strings.GetText("OK"), "OK");
}

} // namespace
