// The changes the applier and its journal make to a tree, each one either
// done or not: a move replaces its destination in one step, and it reaches
// the disk in order with the journal (Windows: MOVEFILE_WRITE_THROUGH;
// natively SyncDirectory afterwards). None of them follows a symbolic link.
#pragma once

#include <filesystem>
#include <string>

namespace patchlib {

// The entry itself (a link is not followed); "not found" on any error.
std::filesystem::file_status StatusOf(const std::filesystem::path& path);

// True when an existing component of root/relative (its last one included)
// is a symbolic link: following it could lead outside the tree.
bool LinkOnTheWay(const std::filesystem::path& root, const std::string& relative);

std::filesystem::path WithSuffix(const std::filesystem::path& path, const char* suffix);

// Renames a file, replacing `to` if it exists.
bool MoveReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// Removes a plain file, read-only or not; fails on anything else.
bool RemovePlainFile(const std::filesystem::path& path);

// Puts the directory's entries on stable storage (natively; on Windows moves
// are written through, and NTFS logs the deletions in order with them). Some
// file systems cannot sync a directory: nothing more can be done, so it does
// not fail.
void SyncDirectory(const std::filesystem::path& directory);

}  // namespace patchlib
