// The viewer's document pipeline: download the resume's source file, convert
// Word and MHT documents to HTML, show the result.
#pragma once

class CCvGlanceDlg;

// Runs the pipeline for the dialog's arguments on the calling (worker) thread
// and returns 0. Every outcome reaches the user through the dialog's window:
// the document shown, or one of the two error boxes followed by the end of
// the dialog. A base name or document type that would put a temporary file
// outside the temporary folder is refused with the download error before any
// file is touched. The dialog must outlive the call unless its window has
// closed (then the window ignores what the pipeline asks of it).
int DocumentWorker(CCvGlanceDlg* dlg);
