// The changes the applier and its journal make to a tree, each one either
// done or not: a move replaces its destination in one step, and it reaches
// the disk in order with the journal (Windows: MOVEFILE_WRITE_THROUGH;
// natively SyncDirectory afterwards). None of them follows a symbolic link,
// a junction or any other reparse point.
#pragma once

#include <filesystem>
#include <string>

namespace patchlib {

// The entry itself (a link is not followed); "not found" on any error. On
// Windows from the entry's attributes: any reparse point (symbolic link,
// junction, mount point) is a symlink here.
std::filesystem::file_status StatusOf(const std::filesystem::path& path);

// True when an existing component of root/relative (its last one included)
// is a symbolic link or another reparse point: following it could lead
// outside the tree.
bool LinkOnTheWay(const std::filesystem::path& root, const std::string& relative);

// True when nothing or a plain file is at path.
bool PlainOrAbsent(const std::filesystem::path& path);

std::filesystem::path WithSuffix(const std::filesystem::path& path, const char* suffix);

// Renames a file, replacing `to` if it exists (on Windows even when `to` is
// read-only, unless it has other hard links).
bool MoveReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// Renames a file to a name that nothing holds; fails when anything, a link
// included, is there.
bool MoveToNewName(const std::filesystem::path& from, const std::filesystem::path& to);

// True when the plain file at path can be moved aside now: a file open
// elsewhere without shared deletion (Windows) is found before anything
// changes. A read-only file, a running program and a loaded library qualify:
// they are moved, never written.
bool CanMoveAside(const std::filesystem::path& path);

// Removes a plain file, read-only or not; fails on anything else. Never
// changes the mode or attributes of a file with other hard links: such a
// file is removed as it is where the system allows it (natively), and
// refused when it is read-only (Windows, where the attribute is shared by
// every link).
bool RemovePlainFile(const std::filesystem::path& path);

// Puts the directory's entries on stable storage (natively; on Windows moves
// are written through, and NTFS logs the deletions in order with them). Some
// file systems cannot sync a directory: nothing more can be done, so it does
// not fail.
void SyncDirectory(const std::filesystem::path& directory);

}  // namespace patchlib
