// One run of the updater as its program makes it, with a recording window in
// place of the dialog's: the check, then (an update due) the whole update on
// its worker. Shared by the journal suite's forked child and the program that
// makes the same run on Windows, so that both run exactly this.
#pragma once

#include "platform/path.h"
#include "platform/types.h"

// `modulePath`: the updater's program in the installation folder. The window's
// calls are written to `callsFile`, one a line.
void RunUpdaterHere(const CString& modulePath, const platform::Path& callsFile);
