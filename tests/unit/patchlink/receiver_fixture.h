// Runs the download receiver against a scripted patch server in a fresh
// current directory, with the run variables as the driver leaves them
// before it starts a receiver.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "scripted_peer.h"

class ReceiverTest : public ::testing::Test {
protected:
    static constexpr uint32_t kInstalledVersion = 7;
    static void* const kDialog;

    void SetUp() override;
    void TearDown() override;

    // Connects patchConnection to a peer running `script` and starts the
    // receiver thread.
    void Start(std::function<void(PeerSocket&)> script);
    // What the driver does once greeted: the 4-byte version request.
    void SendVersionRequest();
    // Waits for the receiver thread to end (false after 5 s), then closes
    // the connection and waits for the peer's script to end.
    bool Finished();
    // Ends a receiver that waits for bytes that will not come: sets the
    // stop flag, then `poke` makes the peer send one byte.
    void StopReceiver();

    std::string FileContent(const std::string& name) const;
    void WriteFile(const std::string& name, const Bytes& content) const;
    std::vector<std::string> FilesHere() const;
    bool Traced(const std::string& line);
    int CountTouches(int kind);
    std::vector<std::pair<uint16_t, std::string>> TakeServerList();

    std::atomic<bool> poke_{false};
    std::vector<std::string> traces_;

private:
    std::string dir_;
    std::string oldDir_;
    std::unique_ptr<ScriptedPeer> peer_;
    std::thread receiver_;
    std::atomic<bool> finished_{false};
};

// Peer script parts.
Bytes Content(size_t size, uint8_t seed = 1);
// Waits until the test sets `poke`, then sends one byte (see StopReceiver).
void AwaitPoke(PeerSocket& peer, std::atomic<bool>& poke);
