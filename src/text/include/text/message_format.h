// Message formats come from "Language.Txt", which belongs to the install and
// not to this program: a format is only used when its conversions fit the
// arguments the program passes, so a damaged or foreign text table can
// never make the formatting read arguments that are not there.
#pragma once

#include <string>

// True when every conversion of `format`, in order, fits the argument kinds
// in `kinds` ('s' a text, 'u' a 32-bit unsigned number, 'd' a 32-bit signed
// number, 'f' a double, 'c' a character). Flags, digit widths and precisions
// are allowed; "*", "%n", positional and 64-bit length modifiers are not.
// Fewer conversions than arguments is fine (the rest is ignored), more is not.
bool FormatFitsArguments(const char* format, const char* kinds);

// printf-style formatting cut to at most 1024 characters of output. When
// `format` does not fit `kinds`, `fallback` (which must fit) is used instead.
std::string FormatMessageText(const char* format, const char* fallback, const char* kinds, ...);
