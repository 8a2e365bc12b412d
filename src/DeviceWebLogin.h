#pragma once

// The device's web interface takes the commands that change its
// configuration from this one user, the same on every device. Never logged.
inline constexpr char kDeviceWebUser[] = "root";
inline constexpr char kDeviceWebPassword[] = "kqzt";
