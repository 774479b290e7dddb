// Reading and replacing a file of the notebook whole: written beside it, then renamed over it, so a reader (or
// a crash) never meets half a file. The caller holds the lock that orders the writers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace sim {

// False (and the old file untouched) when the new contents cannot be written.
bool ReplaceFileContents(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);

// The whole contents of a regular file. False when the path is no regular file (a folder where an
// item should be, say) or cannot be read; never throws, whatever stands at the path.
bool ReadFileContents(const std::filesystem::path& file, std::vector<std::uint8_t>* bytes);

}  // namespace sim
