#include "common/files.h"

#include <atomic>
#include <fstream>
#include <system_error>

#include "common/platform/file_io.h"

namespace tw {

namespace fs = std::filesystem;

FileBytes readFileUpTo(const fs::path& path, std::size_t maxBytes) {
    FileBytes out;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return out;
    const auto size = fs::file_size(path, ec);
    if (ec) return out;
    if (size > maxBytes) {
        out.status = FileBytes::Status::TooLarge;
        return out;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return out;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad()) return out;
    // A file that grows while it is read keeps the limit all the same.
    if (bytes.size() == size && in.peek() != std::ifstream::traits_type::eof()) {
        char c;
        while (bytes.size() <= maxBytes && in.get(c)) bytes.push_back(c);
        if (bytes.size() > maxBytes) {
            out.status = FileBytes::Status::TooLarge;
            return out;
        }
    }
    out.status = FileBytes::Status::Ok;
    out.bytes = std::move(bytes);
    return out;
}

std::optional<std::string> readWholeFile(const fs::path& path, std::size_t maxBytes) {
    FileBytes f = readFileUpTo(path, maxBytes);
    if (f.status != FileBytes::Status::Ok) return std::nullopt;
    return std::move(f.bytes);
}

namespace {

fs::path temporaryNameFor(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    fs::path tmp = target;
    tmp += ".tmp" + std::to_string(platform::processId()) + "-" + std::to_string(counter++);
    return tmp;
}

// The one atomic replacement of the programs: every file they rewrite goes through it.
bool replaceAtomically(const fs::path& path, std::string_view bytes,
                       std::optional<fs::perms> permissions) {
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (ec) return false;
        target = resolved;
    }
    // A folder (or anything else that is not a file) under the name is never replaced.
    if (fs::exists(target, ec) && !fs::is_regular_file(target, ec)) return false;
    const fs::path tmp = temporaryNameFor(target);
    if (!platform::writeNewFileSynced(tmp, bytes, target, permissions) ||
        !platform::replaceFileSynced(tmp, target)) {
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

}  // namespace

bool writeFileAtomically(const fs::path& path, std::string_view bytes) {
    return replaceAtomically(path, bytes, std::nullopt);
}

bool writeFileAtomically(const fs::path& path, std::string_view bytes, fs::perms permissions) {
    return replaceAtomically(path, bytes, permissions);
}

void appendWhole(const char* path, std::string_view bytes) {
    platform::appendInOneWrite(path, bytes);
}

}  // namespace tw
