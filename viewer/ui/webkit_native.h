// What the portable web view API of the toolkit cannot say, said to the native
// web view underneath it. Where the toolkit has no such view, each operation
// returns false and changes nothing.
#pragma once

class wxWebView;

// Stops scripts that come with a page from running: script elements and
// event-handler attributes are dropped while the page is parsed. Scripts the
// program itself adds (user scripts) still run. False when the native view or
// its settings could not be reached.
bool DisablePageScripts(wxWebView* view);

// Swallows every key press with Ctrl held, and F5, before the page or the
// view's own shortcuts (select all, copy, find, print, reload) see it. False
// when the native view could not be reached.
bool SwallowCtrlAndF5Keys(wxWebView* view);
