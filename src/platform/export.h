// Classes whose members the updater's export table lists.
#pragma once

#if defined(_WIN32) && defined(MRL_EXPORTING)
#define MRL_EXPORT __declspec(dllexport)
#else
#define MRL_EXPORT
#endif
