#pragma once

#include "DeviceNetworkParams.h"

#include <QString>

// The log record of one change sent to a device, so that an installer can
// later tell what was changed on which device:
//   Change: device 02-51-45-4C-66-01 10.77.0.13 "Lobby": network settings
//   (name "Lobby" -> "Lobby East", IP 10.77.0.13 -> 10.77.0.50): changed
// `device` is the record of the device as it was before the change; `what`
// and `result` are the caller's, and must hold no secret.
QString ChangeRecordText(const DeviceNetworkParams& device, const QString& what, const QString& result);

// Text in double quotes for a record: a quote, a backslash and control
// characters are escaped, so that device text cannot end a record early or
// forge another one.
QString RecordQuoted(const QString& text);

// "network settings (name "A" -> "B", IP 10.77.0.13 -> 10.77.0.50)": the
// fields of a network settings request that differ from the device's record;
// "network settings (unchanged)" when none does.
QString NetworkChangeText(const DeviceNetworkParams& before, const DeviceNetworkParams& after);
