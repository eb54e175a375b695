#include "res/catalogue.h"

namespace {

struct Entry {
    unsigned id;
    const wchar_t* text;
};

#define NERIO_STRING(id, text) {id, text},
const Entry kTable[] = {
#include "res/strings.inc"
};
#undef NERIO_STRING

}  // namespace

std::wstring CatalogueText(const tagProfileTraits& profile, unsigned id) {
    if (id == 20042) return profile.identity.titleChinese;
    if (id == 30042) return profile.identity.titleEnglish;
    for (const Entry& e : kTable) {
        if (e.id == id) return e.text;
    }
    return std::wstring();
}

std::wstring ResultText(const tagProfileTraits& profile, int code, int offset) {
    // Codes without a text (0, above 12) give an empty text, as a missing string does.
    if (code < 1 || code > 12) return std::wstring();
    return CatalogueText(profile, static_cast<unsigned>(20000 + code + offset));
}
