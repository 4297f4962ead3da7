// The robot's line protocol: one request per line, fields separated by TAB;
// one reply per request, "ok" or "err" followed by TAB-separated fields.
// Field texts are escaped so that a reply is always one line: backslash,
// TAB, CR and LF as \\ \t \r \n, other control bytes and bytes above 126 as
// \xNN. A reply that carries records ("controls", "windows") is followed by
// as many lines as its count says.
#pragma once

#include <string>
#include <vector>

std::string EscapeField(const std::string& text);
std::string UnescapeField(const std::string& text);
// Splits at TABs and unescapes each field.
std::vector<std::string> SplitRequest(const std::string& line);
// Joins escaped fields with TABs.
std::string JoinFields(const std::vector<std::string>& fields);
