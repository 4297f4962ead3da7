#include "ui/text_format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ui/default_texts.h"
#include "ui/language_file.h"

namespace {

// The kind of argument a conversion character reads, or 0 for one we do
// not accept ('n' writes through a pointer, 'p' reads one).
char KindOf(char conversion, int longs) {
    switch (conversion) {
        case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c':
            return longs == 0 ? 'i' : 0;  // "%ld" is 64 bits wide on some systems
        case 's':
            return longs == 0 ? 's' : 0;
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
            return 'f';
        default:
            return 0;
    }
}

}  // namespace

bool FormatFitsArguments(const char* format, const char* signature) {
    size_t used = 0;
    size_t available = std::strlen(signature);
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        while (*p && std::strchr("-+ #0", *p)) ++p;
        while (*p >= '0' && *p <= '9') ++p;
        if (*p == '.') {
            ++p;
            while (*p >= '0' && *p <= '9') ++p;
        }
        if (*p == '*' || *p == '$') return false;
        int longs = 0;
        while (*p == 'h') ++p;
        while (*p == 'l') {
            ++longs;
            ++p;
        }
        if (*p == '\0') return false;
        char kind = KindOf(*p, longs);
        if (kind == 0 || used >= available || signature[used] != kind) return false;
        ++used;
    }
    return true;
}

void FormatLanguageText(char* out, size_t size, int number, const char* signature, ...) {
    if (size == 0) return;
    const char* format = GetLanguageText(number);
    if (!FormatFitsArguments(format, signature)) format = GetDefaultLanguageText(number);
    if (!format || !FormatFitsArguments(format, signature)) format = "";
    va_list args;
    va_start(args, signature);
    std::vsnprintf(out, size, format, args);
    va_end(args);
}
