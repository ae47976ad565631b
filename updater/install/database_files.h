// Keeping the product's database aside before a patch and putting it back
// byte for byte: a patch may change more than rows (its journal mode, for
// one), and an undone update must leave the very file it found.
#pragma once

#include <string>

#include "platform/path.h"

// Error texts are UTF-8.
//
// Copies the database file at dbPath, and its write-ahead log when there is
// one, to copyPath (and copyPath + "-wal"), durably. The copy is taken inside
// a write transaction, so no other connection changes the files meanwhile;
// waits up to 5 s for another writer. False (with *error set) when the
// database cannot be opened, stays locked, or the copy cannot be written.
bool KeepDatabaseFiles(const platform::Path& dbPath, const platform::Path& copyPath, std::string* error);

// Puts the files kept by KeepDatabaseFiles back over the database, and removes
// any log, shared-memory or rollback file the patch left. Replacing a file is
// safe only when no other connection has the database open: that is made
// sure by switching it to the rollback journal (which SQLite refuses while
// others are connected) and taking its exclusive lock, waiting up to 5 s.
// The copy is written over the database while that lock is held, with
// platform::OverwriteFileDurably (on Windows in place, since a file held open
// cannot be replaced there); cut short, it is simply run again from the same
// copy. False (with *error set, database unchanged unless the write itself
// failed) when it stays in use or the copy cannot be read or written.
bool RestoreDatabaseFiles(const platform::Path& copyPath, const platform::Path& dbPath, std::string* error);

// Narrow text is no path here: text with the programs' "\\" separators would
// reach the file system unchanged. Turn it into a Path first (platform/path.h).
bool KeepDatabaseFiles(const std::string&, const std::string&, std::string*) = delete;
bool RestoreDatabaseFiles(const std::string&, const std::string&, std::string*) = delete;
