#include "text/server_table.h"

#include <cstdio>
#include <cstring>

#include "platform/file.h"

ServerTable run::serverTable;

namespace {

// Reads one line (at most 499 bytes, its line feed included) into `field`.
// At the end of the file nothing is delivered and the field keeps what it
// held, which is how the two empty slots after the last record arise.
void ReadField(std::FILE* file, char* field) {
    char line[kServerFieldSize];
    if (std::fgets(line, sizeof line, file)) {
        std::memcpy(field, line, std::strlen(line) + 1);
    }
    StripLineEnd(field);
}

void ReadRecord(std::FILE* file, ServerRecord& record) {
    ReadField(file, record.name);
    ReadField(file, record.address);
    ReadField(file, record.patchServer);
    ReadField(file, record.description);
    ReadField(file, record.linkCaption);
    ReadField(file, record.linkTarget);
}

// Counts the records of a freshly read table: the list ends where a slot's
// name repeats the name just before it (after the last record, two empty
// names). When the table fills up first, the records that fit are the list,
// an empty name in the last slot still marking the end of the file.
int ReadRecords(std::FILE* file) {
    ReadRecord(file, run::serverTable.slots[0]);
    for (int k = 1; k < kServerSlots; ++k) {
        ReadRecord(file, run::serverTable.slots[k]);
        if (std::strcmp(run::serverTable.slots[k].name, run::serverTable.slots[k - 1].name) == 0) {
            return k - 1;
        }
    }
    const bool lastEmpty = run::serverTable.slots[kServerSlots - 1].name[0] == '\0';
    return lastEmpty ? kServerSlots - 1 : kServerSlots;
}

}  // namespace

int LoadServerList() {
    platform::File file("ServerList.Txt", "rt");
    if (!file) return -1;
    // A list loaded before (the dialog loads it on every showing) must not
    // leave records behind that the new list would count or find.
    std::memset(&run::serverTable, 0, sizeof run::serverTable);
    return ReadRecords(file.get());
}

ServerRecord* FindServerRecord(const char* name) {
    for (ServerRecord& record : run::serverTable.slots) {
        if (std::strcmp(record.name, name) == 0) return &record;
    }
    return nullptr;
}

void StripLineEnd(char* text) {
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        if (*in != '\r' && *in != '\n') *out++ = *in;
    }
    *out = '\0';
}
