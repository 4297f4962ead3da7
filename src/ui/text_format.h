// printf-style formatting of texts from the text table. The formats come
// from the install's "Language.Txt", not from the program, so a format is
// checked against the arguments the caller really passes before it is
// used: a text whose conversions do not fit them (a "%s" where a number is
// passed, more conversions than arguments) falls back to the built-in text.
#pragma once

#include <cstddef>

// Does `format` consume at most the arguments described by `signature`, in
// order, each with a matching kind? Signature letters: 'i' an int-sized
// integer or character, 's' a text, 'f' a double.
bool FormatFitsArguments(const char* format, const char* signature);

// Formats text `number` into `out` (always terminated, cut to fit) with the
// arguments described by `signature`.
void FormatLanguageText(char* out, size_t size, int number, const char* signature, ...);
