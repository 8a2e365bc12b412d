#pragma once

#include <QString>
#include <Qt>
#include <functional>

class ClientMainForm;
class SettingsDialog;

// What the settings dialog's LAN tests share: the simulated device's row in
// the search window, and its settings dialog run modally with a test body
// inside it.
namespace dialoglan {

// Columns of the search window's table.
enum Column { kColumnDeviceName = 1, kColumnIp, kColumnMac, kColumnMask, kColumnGateway, kColumnAddressing };

// A search's listening time at the most, and how many searches a test makes
// before it gives up on a device.
constexpr int kSearchTimeoutMs = 6000;
constexpr int kSearchAttempts = 3;

// Searches up to three times until the row of the device with `macText`
// ("02-51-45-4C-66-01") shows (other tests may share the LAN and flood it,
// so a reply can be lost now and then), stops the search and selects the
// row; returns it, or -1.
int FindDeviceRow(ClientMainForm* window, const QString& macText);

// Opens the selected row's dialog (with a double-click on `row`'s device
// name, as the window system delivers it, or with the Settings button),
// runs `body` inside its modal loop, then closes it. False when the dialog
// did not open.
bool WithDialog(ClientMainForm* window, int row, bool doubleClick,
                const std::function<void(SettingsDialog&)>& body,
                Qt::KeyboardModifiers modifiers = Qt::NoModifier);

} // namespace dialoglan
