#pragma once
// Sizes of local folders as the task pages and the task store show them.
#include <cstdint>
#include <string>

// Bytes of every file below path, counted once: symbolic links are neither
// followed nor counted, and unreadable entries count 0.
uint64_t GetFolderSize(const std::string& path);

// "%d Bytes" below 1 KB, "%d KB" below 1 MB, "%.2f MB" below 1 GB, else "%.2f GB".
std::string FormatFileSize(int64_t bytes);
