#pragma once
// The operating-system side of writing files that must survive a crash or a power cut: data
// flushed to the disk before a rename makes it visible, and the folder entry flushed after it.
// Part of tellwick_platform_base, on which tellwick_common's file helpers (common/files.h)
// are built.
#include <filesystem>
#include <optional>
#include <string_view>

namespace tw::platform {

// Creates `file` (it must not exist yet), writes all of `bytes` and flushes them to the disk.
// The new file takes `permissions` when given, else the permission bits of `modelFile` when
// that exists. False on any failure; a partly written file may remain for the caller to remove.
bool writeNewFileSynced(const std::filesystem::path& file, std::string_view bytes,
                        const std::filesystem::path& modelFile,
                        std::optional<std::filesystem::perms> permissions = std::nullopt);

// Renames `from` over `to` in one step and then flushes the folder of `to`, so that after a
// power cut the folder names either the old file or the new one. False when the rename
// failed; a folder that cannot be flushed (some file systems refuse) does not undo it.
bool replaceFileSynced(const std::filesystem::path& from, const std::filesystem::path& to);

// Appends `bytes` to `path` (created when missing) with one write, so that records appended
// by several threads or processes at once never mix. Failures are silent.
void appendInOneWrite(const char* path, std::string_view bytes);

// Creates `path` empty, or empties it; silent on failure.
void emptyFile(const char* path);

// Removes a file; false when it could not be removed (a missing file counts as removed).
bool removeFile(const std::filesystem::path& file);

// A number that tells this process apart from others running now.
unsigned long processId();

}  // namespace tw::platform
