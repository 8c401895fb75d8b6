#include "cptlib/resources/LanguageIds.h"

#include "cptlib/Utf.h"

namespace cptlib {

namespace {

struct LanguageRow {
    const char* culture;
    std::uint16_t lcid;
};

// Language ids as the platform numbers them; neutral rows carry a primary language only.
constexpr LanguageRow kLanguages[] = {
    {"ar", 0x01},          {"bg", 0x02},           {"ca", 0x03},        {"zh-Hans", 0x04},
    {"cs", 0x05},          {"da", 0x06},           {"de", 0x07},        {"el", 0x08},
    {"en", 0x09},          {"es", 0x0A},           {"fi", 0x0B},        {"fr", 0x0C},
    {"he", 0x0D},          {"hu", 0x0E},           {"is", 0x0F},        {"it", 0x10},
    {"ja", 0x11},          {"ko", 0x12},           {"nl", 0x13},        {"no", 0x14},
    {"pl", 0x15},          {"pt", 0x16},           {"ro", 0x18},        {"ru", 0x19},
    {"hr", 0x1A},          {"sk", 0x1B},           {"sq", 0x1C},        {"sv", 0x1D},
    {"th", 0x1E},          {"tr", 0x1F},           {"ur", 0x20},        {"id", 0x21},
    {"uk", 0x22},          {"be", 0x23},           {"sl", 0x24},        {"et", 0x25},
    {"lv", 0x26},          {"lt", 0x27},           {"fa", 0x29},        {"vi", 0x2A},
    {"hy", 0x2B},          {"eu", 0x2D},           {"mk", 0x2F},        {"af", 0x36},
    {"ka", 0x37},          {"hi", 0x39},           {"ms", 0x3E},        {"kk", 0x3F},
    {"cy", 0x52},          {"gl", 0x56},           {"zh-Hant", 0x7C04}, {"nb", 0x7C14},
    {"ar-SA", 1025},       {"bg-BG", 1026},        {"ca-ES", 1027},     {"zh-TW", 1028},
    {"cs-CZ", 1029},       {"da-DK", 1030},        {"de-DE", 1031},     {"el-GR", 1032},
    {"en-US", 1033},       {"es-ES_tradnl", 1034}, {"fi-FI", 1035},     {"fr-FR", 1036},
    {"he-IL", 1037},       {"hu-HU", 1038},        {"is-IS", 1039},     {"it-IT", 1040},
    {"ja-JP", 1041},       {"ko-KR", 1042},        {"nl-NL", 1043},     {"nb-NO", 1044},
    {"pl-PL", 1045},       {"pt-BR", 1046},        {"ro-RO", 1048},     {"ru-RU", 1049},
    {"hr-HR", 1050},       {"sk-SK", 1051},        {"sq-AL", 1052},     {"sv-SE", 1053},
    {"th-TH", 1054},       {"tr-TR", 1055},        {"ur-PK", 1056},     {"id-ID", 1057},
    {"uk-UA", 1058},       {"be-BY", 1059},        {"sl-SI", 1060},     {"et-EE", 1061},
    {"lv-LV", 1062},       {"lt-LT", 1063},        {"fa-IR", 1065},     {"vi-VN", 1066},
    {"hy-AM", 1067},       {"eu-ES", 1069},        {"mk-MK", 1071},     {"af-ZA", 1078},
    {"ka-GE", 1079},       {"hi-IN", 1081},        {"mt-MT", 1082},     {"ms-MY", 1086},
    {"kk-KZ", 1087},       {"cy-GB", 1106},        {"gl-ES", 1110},     {"zh-CN", 2052},
    {"de-CH", 2055},       {"en-GB", 2057},        {"es-MX", 2058},     {"fr-BE", 2060},
    {"it-CH", 2064},       {"nl-BE", 2067},        {"nn-NO", 2068},     {"pt-PT", 2070},
    {"sv-FI", 2077},       {"ga-IE", 2108},        {"ar-EG", 3073},     {"zh-HK", 3076},
    {"de-AT", 3079},       {"en-AU", 3081},        {"es-ES", 3082},     {"fr-CA", 3084},
    {"zh-SG", 4100},       {"de-LU", 4103},        {"en-CA", 4105},     {"fr-CH", 4108},
    {"zh-MO", 5124},       {"de-LI", 5127},        {"en-NZ", 5129},     {"fr-LU", 5132},
    {"en-IE", 6153},       {"en-ZA", 7177},        {"es-CO", 9226},     {"sr-Latn-RS", 9242},
    {"sr-Cyrl-RS", 10266}, {"es-AR", 11274},       {"es-CL", 13322},    {"en-IN", 16393},
    {"en-SG", 18441},      {"es-US", 21514},
};

} // namespace

std::optional<std::uint16_t> Rfc1766ToLcid(std::string_view culture) {
    for (const auto& row : kLanguages)
        if (EqualsNoCase(row.culture, culture))
            return row.lcid;
    return std::nullopt;
}

std::string LcidToRfc1766(std::uint16_t lcid) {
    for (const auto& row : kLanguages)
        if (row.lcid == lcid)
            return row.culture;
    return {};
}

} // namespace cptlib
