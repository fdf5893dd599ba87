#include "common/platform/paths.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <string>

#include "common/text.h"

namespace tw::platform {

std::filesystem::path fromConfigPath(std::string_view text) {
    std::string s(text);
    std::replace(s.begin(), s.end(), '\\', '/');
    return std::filesystem::path(s);
}

std::u16string pathCompareForm(std::string_view utf8) {
    std::u16string s = utf8ToUtf16(utf8);
    static const locale_t utf8Locale =
        ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!utf8Locale) return asciiUpper(s);
    for (char16_t& c : s) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        const wint_t u = ::towupper_l(static_cast<wint_t>(c), utf8Locale);
        if (u <= 0xFFFF) c = static_cast<char16_t>(u);
    }
    return s;
}

std::filesystem::path programPath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : p;
}

}  // namespace tw::platform
