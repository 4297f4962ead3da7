// Classes whose members the updater's export table lists (nothing imports
// them; the table describes the program to whoever inspects it).
#pragma once

#if defined(_WIN32)
#define MRL_EXPORT __declspec(dllexport)
#else
#define MRL_EXPORT
#endif
