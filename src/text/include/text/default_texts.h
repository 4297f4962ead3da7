// The English texts that stand in for "Language.Txt" when an install lacks
// it, and a writer that turns them into a complete "Language.Txt".
#pragma once

// The built-in text of `number`, or null for a number the program never
// looks up. Each format carries exactly the conversions its callers fill.
const char* GetDefaultLanguageText(int number);

// Writes a "Language.Txt" at `path` whose text N is the built-in text N for
// every number the program uses (and a filler text elsewhere), with CR LF
// line ends. False when the file cannot be written.
bool WriteDefaultLanguageFile(const char* path);
