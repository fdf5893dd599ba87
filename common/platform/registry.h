#pragma once
// The HKEY_LOCAL_MACHINE stand-in: a directory per key, a file per value, under
// $TELLWICK_REGISTRY (or /var/lib/tellwick/registry).
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tw::platform::registry {

std::filesystem::path root();
// "A\B\C" -> <root>/A/B/C
std::filesystem::path keyPath(std::string_view key);
// The value's data (UTF-8), or nothing when the key or value cannot be read.
std::optional<std::string> readValue(std::string_view key, std::string_view value);
// Creates the key as needed and replaces the value atomically. False when the key cannot be
// created or the value not written.
bool writeValue(std::string_view key, std::string_view value, std::string_view data);
// Removes a value; false when it could not be removed (a missing value counts as removed).
bool removeValue(std::string_view key, std::string_view value);

}  // namespace tw::platform::registry
