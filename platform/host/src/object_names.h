// Object and value names inside the host kernel model: the platform compares
// them without regard to case.
#pragma once

#include "host_kernel.h"

#include <string>

namespace km {

inline std::u16string FoldCase(const std::u16string& s) {
    std::u16string out = s;
    for (auto& c : out)
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
    return out;
}

inline std::u16string FromUnicode(PCUNICODE_STRING s) {
    if (!s || !s->Buffer)
        return {};
    return std::u16string(s->Buffer, s->Length / sizeof(WCHAR));
}

} // namespace km
