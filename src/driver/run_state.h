// The run globals: the state of one update run that the driver shares with
// the download receiver and the dialogs. Flags written by one thread and
// polled by another are atomics (plain words on the original hardware; the
// atomics keep the same single-writer protocol without data races).
#pragma once

#include <atomic>
#include <cstdint>

#include "driver/patch_server_list.h"
#include "platform/sync.h"
#include "platform/system.h"

namespace run {

constexpr int kAddressSize = 100;  // 99 characters and the terminator

// Normal mode unless the command line is exactly the silent-mode text.
extern bool silentMode;

// The game server as chosen: a server-list name or a typed address.
extern char gameServerAddress[kAddressSize];
extern std::atomic<int32_t> proxyEnabled;
extern char proxyAddress[kAddressSize];
extern std::atomic<int32_t> serverChoiceLocked;

extern std::atomic<uint32_t> serverVersion;
extern std::atomic<uint32_t> installedVersion;
extern std::atomic<uint32_t> workingVersion;
extern std::atomic<uint32_t> patchTargetVersion;

// Download flags shared by the driver, the receiver and the connecting dialog.
extern std::atomic<int32_t> doneFlag;
extern std::atomic<int32_t> downloadReady;
extern std::atomic<int32_t> downloadFailed;
extern std::atomic<int32_t> downloadComplete;
extern std::atomic<uint8_t> receiveState;
extern std::atomic<int32_t> receiverRunning;
extern std::atomic<int32_t> fallbackCount;

// The received file: name as the patch server sent it (owned heap text, or
// null), announced size and bytes on disk.
extern std::atomic<char*> patchFileName;
extern std::atomic<uint32_t> patchFileSize;
extern std::atomic<uint32_t> patchBytesReceived;

// Tick of the last request (discovery) or the last progress repaint (download).
extern std::atomic<uint32_t> lastSendTick;

// The dialog the download repaints and writes its messages into.
extern std::atomic<platform::WindowHandle> dialogWindow;

// Guards PatchServerList: the driver takes entries, the driver and the
// download receiver append.
extern platform::CriticalSection ServerListLock;
extern PatchServerList patchServerList;

}  // namespace run
