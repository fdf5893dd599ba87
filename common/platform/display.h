#pragma once

namespace tw::platform {

// Wakes a display in power saving; best effort and silent.
void wakeDisplay();

}  // namespace tw::platform
