// The numbers of the texts the program looks up in the text table, each
// under one name. The built-in texts (default_texts.cpp) are keyed by them.
#pragma once

namespace text_number {

enum : int {
    kGameServerSilent = 51,    // the game server did not answer
    kServerLabel = 78,         // the server selection dialog's label 1010
    kLinkCaption = 79,         // ...the link button's default caption
    kLinkTarget = 80,          // ...the document it opens by default
    kServerHint = 81,          // ...its static text 1011
    kServerDescription = 82,   // ...its initial description
    kNetworkFailure = 85,      // no patch server, or the connection failed
    kDowngradeFailed = 94,     // a downgrade file is missing or was rejected (one %u)
    kPostpone = 183,           // "Postpone patch": the connecting dialog's button, and its
                               // status line while the drive lacks room
    kProgressFormat = 184,     // the progress line (see ui/progress_line.h)
    kInstallCheck = 187,       // a listed install file is missing or damaged
    kHighest = kInstallCheck,  // the highest number the program looks up
};

}  // namespace text_number
