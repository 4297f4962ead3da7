// The text table "Language.Txt": every message, caption and format the
// program shows, looked up by number (the N-th line that is neither a
// comment nor blank).
#pragma once

// Opens "Language.Txt" of the current directory and keeps it open.
// Returns false when it cannot be opened; lookups then give built-in English
// texts for every number the program uses.
bool OpenLanguageFile();
// Text number `number`, valid until the next lookup on this thread.
// Lookups from several threads are serialised, and each thread has its own
// result buffer. A number past the last text gives the last line when that
// line is a text, and an empty text when the file ends in a comment or blank
// line; a number below 1 gives an empty text. Without a table (missing, or
// already closed) the built-in texts of default_texts.h answer.
const char* GetLanguageText(int number);
void CloseLanguageFile();
