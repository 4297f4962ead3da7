// Every global of the updater, where it is declared and which thread writes
// it (main: the driver's thread; receiver: the download receiver's;
// dialog: the searching and patching dialogs' threads). Values written by
// one thread and read by another are atomic or locked, as their headers
// state. Globals inside a file's anonymous namespace are listed too.
//
// run::appInfo            driver/app_info.h          main (start-up)
// run::settings           settings/reg_key_handler.h main
// run::serverVersion, installedVersion, fallbackCount, rememberedServer
//                         driver/run_state.h         main
// run::silentMode, gameServerAddress, proxyEnabled, proxyAddress,
//   serverChoiceLocked    run/server_choice.h        main (start-up, server dialog)
// run::downloadStep       run/download_step.h        main between steps, receiver
//                                                    during one (see its setters)
// run::workingVersion, patchTargetVersion, patchFileName, patchFileSize,
//   patchBytesReceived, lastSendTick
//                         run/download_state.h       receiver; main between steps
// run::dialogWindow       run/download_state.h       main (the dialog that opens)
// run::signedOnly         run/download_state.h       main (start-up)
// run::patchServerList    run/patch_server_list.h    main, receiver (its own lock)
// run::serverTable        text/server_table.h        main (server list load)
// run::startupTexts       text/startup_texts.h       main (start-up, server dialog)
// run::serverDialogModel  ui/server_dialog_model.h   main (server dialog)
// run::searchingDialog, patchingDialog
//                         ui/dialogs/dialog_threads.h main starts and ends them;
//                                                    dialog runs them (their own locks)
// gamelink::NextSequence  gamelink/engine_core.h     each engine's worker (atomic)
// gameLink (discovery.cpp), patchConnection (acquisition.cpp)
//                                                    main; the receiver reads the
//                                                    connection until it is joined
// the text table          text/language_file.cpp     main opens and closes it;
//                                                    lookups from any thread (locked)
// the retired file names  patchlink/patch_receiver.cpp receiver (locked)
// the tick source         platform/time_common.cpp   tests (atomic)
#pragma once

#include "app_info.h"
#include "gamelink/engine_core.h"
#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "run/server_choice.h"
#include "run_state.h"
#include "settings/reg_key_handler.h"
#include "text/server_table.h"
#include "text/startup_texts.h"
#include "ui/dialogs/dialog_threads.h"
#include "ui/server_dialog_model.h"
