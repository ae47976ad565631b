// Small shell programs that stand in for the outside programs the updater
// starts (the process-control program, the desktop's document opener), and
// waiting for what they record. The programs are started detached, so their
// records appear some time after the start request.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"

// Writes an executable /bin/sh script with `body` after the "#!" line.
void WriteScript(const std::filesystem::path& path, const std::string& body);

// The file's lines; empty when it does not exist.
std::vector<std::string> ReadLines(const std::filesystem::path& path);

// Waits (up to 20 s) until the file holds at least `count` lines / exists.
bool WaitForLines(const std::filesystem::path& path, std::size_t count);
bool WaitForFile(const std::filesystem::path& path);

// Waits (up to 20 s) until no process runs the program at `path`. A program
// started detached has been executed by the time its start returns, so once
// none runs any more, everything it was going to record is recorded.
bool WaitUntilNotRunning(const std::filesystem::path& path);

using testsupport::RunAndWait;
