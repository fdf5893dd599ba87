#pragma once
// Whole-file reading and crash-safe replacement of files that the programs rewrite
// (preferences files, the clients database).
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tw {

// The bytes of a regular file of at most `maxBytes`; nullopt when it is missing, cannot be
// read or is larger.
std::optional<std::string> readWholeFile(const std::filesystem::path& path,
                                         std::size_t maxBytes = static_cast<std::size_t>(-1));

// The same with the reason when there are no bytes.
struct FileBytes {
    enum class Status { Ok, Unreadable, TooLarge };
    Status status = Status::Unreadable;
    std::string bytes;
};
FileBytes readFileUpTo(const std::filesystem::path& path, std::size_t maxBytes);

// Replaces `path` with `bytes`: the data goes to a temporary file in the same folder, is
// flushed to disk and then renamed over the old file, and the folder is flushed after the
// rename, so a crash, a power cut or a full disk leaves either the old file or the new one,
// never a mix. A symbolic link is followed, not replaced.
// False (and the old file untouched) on any failure.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);
// The same with the new file's permission bits fixed, whatever the old file had.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::filesystem::perms permissions);

// Appends `bytes` to `path` (created when missing) with one write, so that records appended
// by several threads or processes at once never mix. Failures are silent: the callers are
// logs whose loss must not disturb the program.
void appendWhole(const char* path, std::string_view bytes);

}  // namespace tw
