#pragma once
#include <string>

namespace tw::platform {

// Host name up to its first ".", upper-cased.
std::string netbiosName();
// Canonical name from the resolver, upper-cased, cut to 64 characters; 64 spaces when the
// lookup fails.
std::string fqdnName();

}  // namespace tw::platform
