// The server list "ServerList.Txt": records of six lines loaded into a table
// of 200 slots.
#pragma once

constexpr int kServerSlots = 200;
constexpr int kServerFieldSize = 500;  // 499 characters and the terminator

struct ServerRecord {
    char name[kServerFieldSize];
    char address[kServerFieldSize];
    char patchServer[kServerFieldSize];
    char description[kServerFieldSize];
    char linkCaption[kServerFieldSize];
    char linkTarget[kServerFieldSize];
};

struct ServerTable {
    ServerRecord slots[kServerSlots];
};

namespace run {

// The one table; every field starts empty and is never cleared.
extern ServerTable serverTable;

}  // namespace run

// Loads "ServerList.Txt" into serverTable from slot 0; the number of records,
// or -1 when the file cannot be opened (the table then keeps what it held).
// An opened file replaces the whole table. Loading stops at the end of the
// table: a file with more records than slots gives at most 200 (199 when
// the last slot is empty).
int LoadServerList();
// The first slot (0..199) whose name equals `name` byte for byte, or null.
ServerRecord* FindServerRecord(const char* name);
// Removes every CR and LF from `text` in place.
void StripLineEnd(char* text);
