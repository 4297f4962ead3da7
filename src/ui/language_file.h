// The text table "Language.Txt": every message, caption and format the
// program shows, looked up by number (the N-th line that is neither a
// comment nor blank).
#pragma once

// Opens "Language.Txt" of the current directory and keeps it open.
// Returns false when it cannot be opened; lookups then give built-in English
// texts for every number the program uses.
bool OpenLanguageFile();
// Text number `number`, valid until the next lookup on this thread.
// Lookups from several threads are serialised.
const char* GetLanguageText(int number);
void CloseLanguageFile();
