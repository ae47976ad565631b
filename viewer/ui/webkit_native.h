// What the portable web view API of the toolkit cannot say, said to the native
// web view underneath it. Where the toolkit has no such view, each operation
// returns false and changes nothing.
#pragma once

#include <string>
#include <vector>

class wxWebView;

// Stops scripts that come with a page from running: script elements and
// event-handler attributes are dropped while the page is parsed. Scripts the
// program itself adds (user scripts) still run. Caret browsing is kept
// off. False when the native view or its settings could not be reached.
bool DisablePageScripts(wxWebView* view);

// Lets the view load nothing but files under the given folders (native paths)
// and data: URIs: every other load, a web address or a file elsewhere, is
// blocked before it starts. False when the rules could not be put in place;
// then the view must not be used for documents.
bool ConfineToFolders(wxWebView* view, const std::vector<std::string>& folders);

// The file: URL of a native path, written as the view itself writes it.
std::string LocalFileUrl(const std::string& nativePath);

// Swallows, before the page or the view's own shortcuts see them, every key
// press with Ctrl held (select all, copy, find, print), F5 (reload) and F7
// (caret browsing, which would let the keyboard select text). Esc is left to
// the window, whose key hook sees it before the view does. False when the
// native view could not be reached.
bool GuardKeys(wxWebView* view);

// Whether the view still has a load under way, a requested one not yet
// started included. A load cut short by a newer request ends with a "loaded"
// notice too, which the toolkit words with the newer request's address; only
// a notice that comes when nothing is under way is the document's own. False
// when the native view could not be reached.
bool StillLoading(wxWebView* view);
