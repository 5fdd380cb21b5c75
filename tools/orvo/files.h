// File naming: image-sequence patterns, video detection, temporary names for
// atomic output, and the check that an output never replaces an input.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace orvo {

// True for "name.%04d.png", "name.%d.png" and "name.####.png".
bool IsSequencePattern(const std::string& path);
// The file name of frame `number` of a pattern (#### pads to the count of '#').
std::string FramePath(const std::string& pattern, int number);
// The frames of a pattern present on disk, sorted by number.
std::vector<std::pair<int, std::string>> FindSequence(const std::string& pattern);

// Video container by extension: mp4, mov, mkv, webm, avi, m4v, mxf.
bool IsVideoPath(const std::string& path);
// Lower-case extension without the dot ("png").
std::string Extension(const std::string& path);

// A fresh name in the same folder as `path`, with the same extension, for
// writing before the rename that publishes the file.
std::string TempPathFor(const std::string& path);
// Makes Ctrl-C (and SIGTERM, SIGHUP) remove the temporary files still being
// written before the process ends, so an interrupted run leaves none behind.
void RemoveTempsOnInterrupt();
// Renames `temp` to `path` (atomic on one file system); false with errno set on failure.
bool CommitTemp(const std::string& temp, const std::string& path);

// Writes `size` bytes to a temporary name beside `path`, flushes them to the
// disk and renames the file to `path`; on any failure (a full disk, a
// read-only folder) removes the temporary file and returns false with `why`
// saying what failed. Nothing is ever left under `path` half-written.
bool WriteFileAtomically(const std::string& path, const void* data, size_t size, std::string* why);

// True when both names lead to the same file (or, when `b` does not exist yet,
// to the same normalised path).
bool SameFile(const std::string& a, const std::string& b);

} // namespace orvo
