#include "text/message_format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kMaxMessage = 1024;

// Skips flags, width and precision; false on '*' or a positional "n$".
bool SkipSpecifierPrefix(const char*& p) {
    while (*p && std::strchr("-+ #0", *p)) ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '$' || *p == '*') return false;
    if (*p == '.') {
        ++p;
        if (*p == '*') return false;
        while (*p >= '0' && *p <= '9') ++p;
    }
    return true;
}

// Does conversion character `c` (after an optional 'h'/'l') take an argument
// of `kind`?
bool ConversionFits(char c, bool longModifier, char kind) {
    switch (kind) {
        case 's':
            return c == 's' && !longModifier;
        case 'u':
        case 'd':
#ifndef _WIN32
            if (longModifier) return false;  // a long is wider than the int passed
#endif
            return std::strchr("diouxX", c) != nullptr;
        case 'c':
            return c == 'c' && !longModifier;
        case 'f':
            return std::strchr("fFeEgGaA", c) != nullptr;
        default:
            return false;
    }
}

}  // namespace

bool FormatFitsArguments(const char* format, const char* kinds) {
    if (format == nullptr) return false;
    const char* next = kinds ? kinds : "";
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        if (!SkipSpecifierPrefix(p)) return false;
        // 'l' is harmless for doubles and, on Windows, 32 bits for integers;
        // "ll", "I64", "j", "z", "t" and "L" would read more than was passed.
        bool longModifier = false;
        if (*p == 'h') {
            ++p;
            if (*p == 'h') ++p;
        } else if (*p == 'l') {
            longModifier = true;
            ++p;
            if (*p == 'l') return false;
        }
        if (*p == '\0' || *next == '\0' || !ConversionFits(*p, longModifier, *next)) return false;
        ++next;
    }
    return true;
}

std::string FormatMessageText(const char* format, const char* fallback, const char* kinds, ...) {
    const char* chosen = FormatFitsArguments(format, kinds) ? format : fallback;
    char text[kMaxMessage + 1];
    va_list args;
    va_start(args, kinds);
    std::vsnprintf(text, sizeof text, chosen, args);
    va_end(args);
    return text;
}
