// The time that starts every server log line: UTC, ISO 8601, to the
// millisecond ("2026-12-07T11:43:35.120Z"), so lines from several machines
// sort together.
#pragma once

#include <string>

std::string LogTime();
