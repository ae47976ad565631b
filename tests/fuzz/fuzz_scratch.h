// A private folder for fuzz targets that must touch the file system.
#pragma once

#include <filesystem>

namespace fuzz {

// Created on first use (in memory when /dev/shm exists), removed at exit.
const std::filesystem::path& ScratchFolder();

// Removes everything inside the scratch folder, leaving the folder itself.
void EmptyScratchFolder();

}  // namespace fuzz
