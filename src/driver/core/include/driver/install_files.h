// Readers of the install's own text files: the path lines of "Security.Chk"
// and the version number of "Version.Txt".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

constexpr const char* kVersionFile = "Version.Txt";

// Removes the line end of a path line: exactly its last two characters
// (CR LF in a well-formed list). A line shorter than that becomes empty.
std::string CutPathLine(const char* line);

// The number at the start of the file's first line, of which at most 8
// characters are read (blanks, a sign, digits; a text without digits is 0),
// as the 32-bit value written to "Version". None when the file cannot be
// opened.
std::optional<uint32_t> ReadVersionFile(const char* path);
