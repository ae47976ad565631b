// Packing an update folder into the update archive.
#pragma once

#include <filesystem>
#include <string>

// Writes every file under `folder` (and every empty directory) into a new ZIP
// archive at `archive`, deflated, names relative to the folder in UTF-8 with
// `separator` ('/' or '\\') between their parts, each with its DOS time and a
// "UT" modification time. The archive is built beside its target and renamed
// into place only when complete. False with the reason in `error` when the
// folder cannot be read, a name is longer than an archive entry may be, or the
// archive cannot be written; nothing is left at `archive` then.
bool WriteUpdateArchive(const std::filesystem::path& folder, const std::filesystem::path& archive,
                        char separator, std::string& error);
