// What the download receiver shows, as the receiver sees it: the UI side
// (the connecting dialog) implements it, so that the link reads no text and
// knows no window. Called on the receiver's thread.
#pragma once

class ReceiverView {
public:
    // The step's progress changed (run variables) or the receiver stopped:
    // whatever shows the step repaints now.
    virtual void ShowProgress() = 0;
    // The drive lacks room for the step's patch file (the step's flag is set
    // before this call).
    virtual void ShowShortOfSpace() = 0;

protected:
    ~ReceiverView() = default;
};
