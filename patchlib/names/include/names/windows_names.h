// The rule for one file or directory name that a peer chose (a patch server
// naming the file it sends, a patch naming the files it changes) and that we
// create on Windows under exactly that name. A name is refused when Windows
// would open something else than a plain file of that name in the directory:
//
// - empty: names nothing;
// - a byte below 0x20 or 0x7F: Windows refuses control bytes in names, and a
//   NUL byte would cut the name short;
// - '/' or '\': separators, the name would reach another directory;
// - ':': a drive ("C:x") or an alternate data stream ("a:b");
// - < > " | ? *: refused by Windows, or wildcards to its file functions;
// - a last byte '.' or ' ': Windows drops trailing dots and blanks, so "a."
//   opens "a", and ".", ".." and ". ." name directories;
// - a device name, in any case, also with an extension ("nul.txt") and with
//   blanks before it ("con .txt"): CON, PRN, AUX, NUL, CONIN$, CONOUT$,
//   COM0-COM9 and LPT0-LPT9, and COM/LPT followed by a superscript 1, 2 or 3
//   (as a single byte of the Western code page or as UTF-8). Opening one
//   opens the device: a write goes nowhere, or blocks. COM0 and LPT0 are
//   listed as reserved too; no real file needs those names;
// - a name the patch library keeps for itself, in any case: ending in
//   ".mrlpatch-new", ".mrlpatch-old", ".mrlpatch-tmp", ".mrlpatch-gone" or
//   ".mrlpatch-journal" (patch_path.h);
// - a '~' followed by a digit before the last dot ("PROGRA~1",
//   "GAMEDA~1.EXE"): the shape of the short names Windows gives long ones,
//   which would open another file than the one the name spells.
#pragma once

#include <string_view>

bool IsSafeWindowsName(std::string_view name);
