#include "run/download_step.h"

void DownloadStep::Begin() {
    stopped_.store(0);
    networkFailed_.store(0);
    complete_.store(0);
}

void DownloadStep::Settle() {
    complete_.store(1);
    answered_.store(0);
    refused_.store(0);
}

void DownloadStep::Refused(bool failed) {
    if (!failed) return;
    refused_.store(1);
    answered_.store(1);
}

void DownloadStep::Stopped(bool networkFailure) {
    if (networkFailure) networkFailed_.store(1);
    stopped_.store(1);
}
