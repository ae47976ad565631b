// The contract between the updater's program and its window module.
//
// Almost every start of the updater finds no update and ends without a window;
// loading the GUI toolkit alone would cost several times the whole check. So the
// window lives in a module that the program loads only when an update is due.
// The module takes everything else (the logic, the transfer settings) from the
// program itself, so there is one copy of each process-wide object.
#pragma once

class CMyUpdateDlg;

// The module's file, looked up beside the program; the build gives its name on
// the system it builds for.
#ifndef MORVEX_DIALOG_MODULE_FILE
#define MORVEX_DIALOG_MODULE_FILE "libMorvexUpdateUi.so"
#endif
inline constexpr const char* kDialogModuleFile = MORVEX_DIALOG_MODULE_FILE;
inline constexpr const char* kDialogModuleEntry = "MorvexRunUpdateDialog";

// Opens the display, runs the dialog modally over `dlg` (whose check found an
// update) and returns when the dialog has ended: 0. Returns 1, having changed
// nothing, when no display can be opened.
extern "C" {
using RunUpdateDialogFn = int (*)(CMyUpdateDlg* dlg, const char* programName);
}
