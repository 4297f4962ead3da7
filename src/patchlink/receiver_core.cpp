#include "patchlink/receiver_core.h"

#include <algorithm>

#include "platform/time.h"
#include "names/windows_names.h"

namespace {

char LastLetter(const std::string& name) {
    const char last = name.back();
    return last >= 'A' && last <= 'Z' ? char(last - 'A' + 'a') : last;
}

bool EndsInTOrX(const std::string& name) {
    return LastLetter(name) == 't' || LastLetter(name) == 'x';
}

// A program ("e") or a data file ("t", "x"): what the server sends as it is,
// without a signature.
bool IsProgramOrData(const std::string& name) {
    return EndsInTOrX(name) || LastLetter(name) == 'e';
}

}  // namespace

ReceiverCore::ReceiverCore(ReceiverFacts& facts, uint32_t lastRepaintTick)
    : facts_(facts), lastRepaint_(lastRepaintTick) {
    answer_.reserve(PatchAnswer::kAnswerLimit);
}

const std::vector<ReceiverAction>& ReceiverCore::Feed(const uint8_t* data, size_t size,
                                                      uint32_t now) {
    actions_.clear();
    if (size == 0) return actions_;
    if (state_ == State::kAwaitingAnswer) {
        FeedAnswer(data, size, now);
    } else if (state_ == State::kReceivingData) {
        FeedData(data, size, now);
        Add(ReceiverAction::kAcknowledge);
    }
    return actions_;
}

const std::vector<ReceiverAction>& ReceiverCore::FileFailed(uint32_t now) {
    actions_.clear();
    if (state_ != State::kDone) Stop(false, now);
    return actions_;
}

void ReceiverCore::FeedAnswer(const uint8_t* data, size_t size, uint32_t now) {
    // The greeting is the single byte that opens the connection.
    if (size == 1 && answer_.empty() && !greeted_) {
        greeted_ = true;
        Add(ReceiverAction::kGreeting);
        return;
    }
    // A complete answer never reaches past the limit: what would not fit
    // can only follow it.
    size_t take = std::min(size, PatchAnswer::kAnswerLimit - answer_.size());
    answer_.insert(answer_.end(), data, data + take);
    PatchAnswer answer = PatchAnswer::Parse(answer_.data(), answer_.size());
    if (answer.kind == PatchAnswer::Kind::kIncomplete) return;
    answer_.clear();
    if (answer.kind == PatchAnswer::Kind::kMalformed)
        Stop(false, now);
    else if (answer.kind == PatchAnswer::Kind::kRefusal)
        OnRefusal(answer, now);
    else
        OnHeader(answer, now);
}

void ReceiverCore::OnRefusal(const PatchAnswer& answer, uint32_t now) {
    // The driver falls back as soon as it sees downloadFailed and must find
    // every alternative listed by then.
    for (const AlternativeServer& server : answer.alternatives) {
        Add(ReceiverAction::kListServer);
        actions_.back().port = server.port;
        actions_.back().text = server.host.c_str();  // cut at any NUL
    }
    Add(ReceiverAction::kRefusal, answer.reason);
    actions_.back().failed = answer.reason == 1 || answer.reason == 2;
    Stop(false, now);
}

void ReceiverCore::OnHeader(const PatchAnswer& answer, uint32_t now) {
    Add(ReceiverAction::kHeader, answer.version);
    actions_.back().size = answer.fileSize;
    uint64_t freeBytes = 0;
    // When the drive cannot be asked the download goes ahead; a write that
    // then fails ends it incomplete.
    if (facts_.FreeBytes(&freeBytes) && freeBytes < uint64_t(answer.fileSize) * 150 / 100) {
        Add(ReceiverAction::kNoSpace);
        return;
    }
    if (!IsSafeWindowsName(answer.fileName)) {
        Stop(false, now);
        return;
    }
    // A signed-only install keeps no program or data file a server sends:
    // the exchange goes on as for any file, but its bytes are dropped and no
    // file of that name is touched (a player's own stays as it was).
    const bool drop = facts_.SignedOnly() && IsProgramOrData(answer.fileName);
    // Data files are always fetched whole; a local file longer than
    // announced is not this patch.
    uint64_t local =
        drop || EndsInTOrX(answer.fileName) ? 0 : facts_.LocalFileSize(answer.fileName);
    bool whole = !drop && (EndsInTOrX(answer.fileName) || local > answer.fileSize);
    fileSize_ = answer.fileSize;
    received_ = whole ? 0 : uint32_t(local);
    Add(ReceiverAction::kStartFile, received_);
    actions_.back().text = answer.fileName;
    actions_.back().whole = whole;
    actions_.back().drop = drop;
    state_ = State::kReceivingData;
    if (received_ == fileSize_) Stop(true, now);
}

void ReceiverCore::FeedData(const uint8_t* data, size_t size, uint32_t now) {
    // Bytes beyond the announced size are not part of the file.
    size_t take = std::min(size, size_t(fileSize_ - received_));
    received_ += uint32_t(take);
    Add(ReceiverAction::kWrite, received_);
    actions_.back().data = data;
    actions_.back().length = take;
    if (platform::TickDiff(now, lastRepaint_) > kRepaintIntervalMs) {
        lastRepaint_ = now;
        Add(ReceiverAction::kRepaint, now);
    }
    if (received_ == fileSize_) Stop(true, now);
}

void ReceiverCore::Stop(bool complete, uint32_t now) {
    // Complete before the stop: whoever sees the receiver stopped (the
    // dialog, the driver) must see it too. The repaint lets a connecting
    // dialog that is up see the stop and close.
    if (complete) Add(ReceiverAction::kComplete);
    Add(ReceiverAction::kDone);
    lastRepaint_ = now;
    Add(ReceiverAction::kRepaint, now);
    state_ = State::kDone;
}

void ReceiverCore::Add(ReceiverAction::Kind kind, uint32_t value) {
    actions_.emplace_back();
    actions_.back().kind = kind;
    actions_.back().value = value;
}
