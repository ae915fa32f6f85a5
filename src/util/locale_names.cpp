#include "util/locale_names.h"

#include <algorithm>
#include <iterator>

namespace util {
namespace {

struct LocaleNameEntry {
    std::uint16_t langId;
    std::wstring_view name;
};

// Specific locales of the Windows language identifier list whose identifier is a LANGID
// (sort id 0). Neutral languages (0x0009 "en", 0x7C04 "zh-Hant"), pseudo-locales and the
// identifiers Windows reserves without supporting them are left out on purpose: a caller
// asking for one gets the same empty answer as for an unknown identifier. 0x040A keeps
// the name Windows gives it, "es-ES_tradnl", which is not a BCP 47 tag.
// Sorted by identifier so that a lookup is a binary search.
constexpr LocaleNameEntry kLocaleNames[] = {
    {0x0401, L"ar-SA"},      {0x0402, L"bg-BG"},        {0x0403, L"ca-ES"},      {0x0404, L"zh-TW"},
    {0x0405, L"cs-CZ"},      {0x0406, L"da-DK"},        {0x0407, L"de-DE"},      {0x0408, L"el-GR"},
    {0x0409, L"en-US"},      {0x040A, L"es-ES_tradnl"}, {0x040B, L"fi-FI"},      {0x040C, L"fr-FR"},
    {0x040D, L"he-IL"},      {0x040E, L"hu-HU"},        {0x040F, L"is-IS"},      {0x0410, L"it-IT"},
    {0x0411, L"ja-JP"},      {0x0412, L"ko-KR"},        {0x0413, L"nl-NL"},      {0x0414, L"nb-NO"},
    {0x0415, L"pl-PL"},      {0x0416, L"pt-BR"},        {0x0417, L"rm-CH"},      {0x0418, L"ro-RO"},
    {0x0419, L"ru-RU"},      {0x041A, L"hr-HR"},        {0x041B, L"sk-SK"},      {0x041C, L"sq-AL"},
    {0x041D, L"sv-SE"},      {0x041E, L"th-TH"},        {0x041F, L"tr-TR"},      {0x0420, L"ur-PK"},
    {0x0421, L"id-ID"},      {0x0422, L"uk-UA"},        {0x0423, L"be-BY"},      {0x0424, L"sl-SI"},
    {0x0425, L"et-EE"},      {0x0426, L"lv-LV"},        {0x0427, L"lt-LT"},      {0x0428, L"tg-Cyrl-TJ"},
    {0x0429, L"fa-IR"},      {0x042A, L"vi-VN"},        {0x042B, L"hy-AM"},      {0x042C, L"az-Latn-AZ"},
    {0x042D, L"eu-ES"},      {0x042E, L"hsb-DE"},       {0x042F, L"mk-MK"},      {0x0432, L"tn-ZA"},
    {0x0434, L"xh-ZA"},      {0x0435, L"zu-ZA"},        {0x0436, L"af-ZA"},      {0x0437, L"ka-GE"},
    {0x0438, L"fo-FO"},      {0x0439, L"hi-IN"},        {0x043A, L"mt-MT"},      {0x043B, L"se-NO"},
    {0x043E, L"ms-MY"},      {0x043F, L"kk-KZ"},        {0x0440, L"ky-KG"},      {0x0441, L"sw-KE"},
    {0x0442, L"tk-TM"},      {0x0443, L"uz-Latn-UZ"},   {0x0444, L"tt-RU"},      {0x0445, L"bn-IN"},
    {0x0446, L"pa-IN"},      {0x0447, L"gu-IN"},        {0x0448, L"or-IN"},      {0x0449, L"ta-IN"},
    {0x044A, L"te-IN"},      {0x044B, L"kn-IN"},        {0x044C, L"ml-IN"},      {0x044D, L"as-IN"},
    {0x044E, L"mr-IN"},      {0x044F, L"sa-IN"},        {0x0450, L"mn-MN"},      {0x0451, L"bo-CN"},
    {0x0452, L"cy-GB"},      {0x0453, L"km-KH"},        {0x0454, L"lo-LA"},      {0x0456, L"gl-ES"},
    {0x0457, L"kok-IN"},     {0x045A, L"syr-SY"},       {0x045B, L"si-LK"},      {0x045D, L"iu-Cans-CA"},
    {0x045E, L"am-ET"},      {0x0461, L"ne-NP"},        {0x0462, L"fy-NL"},      {0x0463, L"ps-AF"},
    {0x0464, L"fil-PH"},     {0x0465, L"dv-MV"},        {0x0468, L"ha-Latn-NG"}, {0x046A, L"yo-NG"},
    {0x046B, L"quz-BO"},     {0x046C, L"nso-ZA"},       {0x046D, L"ba-RU"},      {0x046E, L"lb-LU"},
    {0x046F, L"kl-GL"},      {0x0478, L"ii-CN"},        {0x047A, L"arn-CL"},     {0x047C, L"moh-CA"},
    {0x047E, L"br-FR"},      {0x0480, L"ug-CN"},        {0x0481, L"mi-NZ"},      {0x0482, L"oc-FR"},
    {0x0483, L"co-FR"},      {0x0484, L"gsw-FR"},       {0x0485, L"sah-RU"},     {0x0487, L"rw-RW"},
    {0x0488, L"wo-SN"},      {0x048C, L"prs-AF"},       {0x0801, L"ar-IQ"},      {0x0803, L"ca-ES-valencia"},
    {0x0804, L"zh-CN"},      {0x0807, L"de-CH"},        {0x0809, L"en-GB"},      {0x080A, L"es-MX"},
    {0x080C, L"fr-BE"},      {0x0810, L"it-CH"},        {0x0813, L"nl-BE"},      {0x0814, L"nn-NO"},
    {0x0816, L"pt-PT"},      {0x081A, L"sr-Latn-CS"},   {0x081D, L"sv-FI"},      {0x082C, L"az-Cyrl-AZ"},
    {0x082E, L"dsb-DE"},     {0x083B, L"se-SE"},        {0x083C, L"ga-IE"},      {0x083E, L"ms-BN"},
    {0x0843, L"uz-Cyrl-UZ"}, {0x0845, L"bn-BD"},        {0x086B, L"quz-EC"},     {0x0C01, L"ar-EG"},
    {0x0C04, L"zh-HK"},      {0x0C07, L"de-AT"},        {0x0C09, L"en-AU"},      {0x0C0A, L"es-ES"},
    {0x0C0C, L"fr-CA"},      {0x0C1A, L"sr-Cyrl-CS"},   {0x0C3B, L"se-FI"},      {0x0C6B, L"quz-PE"},
    {0x1001, L"ar-LY"},      {0x1004, L"zh-SG"},        {0x1007, L"de-LU"},      {0x1009, L"en-CA"},
    {0x100A, L"es-GT"},      {0x100C, L"fr-CH"},        {0x101A, L"hr-BA"},      {0x103B, L"smj-NO"},
    {0x1401, L"ar-DZ"},      {0x1404, L"zh-MO"},        {0x1407, L"de-LI"},      {0x1409, L"en-NZ"},
    {0x140A, L"es-CR"},      {0x140C, L"fr-LU"},        {0x141A, L"bs-Latn-BA"}, {0x143B, L"smj-SE"},
    {0x1801, L"ar-MA"},      {0x1809, L"en-IE"},        {0x180A, L"es-PA"},      {0x180C, L"fr-MC"},
    {0x181A, L"sr-Latn-BA"}, {0x183B, L"sma-NO"},       {0x1C01, L"ar-TN"},      {0x1C09, L"en-ZA"},
    {0x1C0A, L"es-DO"},      {0x1C1A, L"sr-Cyrl-BA"},   {0x1C3B, L"sma-SE"},     {0x2001, L"ar-OM"},
    {0x2009, L"en-JM"},      {0x200A, L"es-VE"},        {0x201A, L"bs-Cyrl-BA"}, {0x203B, L"sms-FI"},
    {0x2401, L"ar-YE"},      {0x2409, L"en-029"},       {0x240A, L"es-CO"},      {0x241A, L"sr-Latn-RS"},
    {0x243B, L"smn-FI"},     {0x2801, L"ar-SY"},        {0x2809, L"en-BZ"},      {0x280A, L"es-PE"},
    {0x281A, L"sr-Cyrl-RS"}, {0x2C01, L"ar-JO"},        {0x2C09, L"en-TT"},      {0x2C0A, L"es-AR"},
    {0x2C1A, L"sr-Latn-ME"}, {0x3001, L"ar-LB"},        {0x3009, L"en-ZW"},      {0x300A, L"es-EC"},
    {0x301A, L"sr-Cyrl-ME"}, {0x3401, L"ar-KW"},        {0x3409, L"en-PH"},      {0x340A, L"es-CL"},
    {0x3801, L"ar-AE"},      {0x380A, L"es-UY"},        {0x3C01, L"ar-BH"},      {0x3C0A, L"es-PY"},
    {0x4001, L"ar-QA"},      {0x4009, L"en-IN"},        {0x400A, L"es-BO"},      {0x4409, L"en-MY"},
    {0x440A, L"es-SV"},      {0x4809, L"en-SG"},        {0x480A, L"es-HN"},      {0x4C0A, L"es-NI"},
    {0x500A, L"es-PR"},      {0x540A, L"es-US"},
};

static_assert(std::size(kLocaleNames) == 206);
static_assert(std::adjacent_find(std::begin(kLocaleNames), std::end(kLocaleNames),
                                 [](const LocaleNameEntry& a, const LocaleNameEntry& b) {
                                     return a.langId >= b.langId;
                                 }) == std::end(kLocaleNames),
              "identifiers must be strictly increasing for the binary search");

}  // namespace

std::wstring_view LocaleNameOfLangId(std::uint16_t langId) {
    const auto* it =
        std::lower_bound(std::begin(kLocaleNames), std::end(kLocaleNames), langId,
                         [](const LocaleNameEntry& entry, std::uint16_t id) { return entry.langId < id; });
    if (it == std::end(kLocaleNames) || it->langId != langId) {
        return {};
    }
    return it->name;
}

}  // namespace util
