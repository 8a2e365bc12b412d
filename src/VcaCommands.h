#pragma once

#include "VcaConfigReader.h"

#include <QString>
#include <string>

// The CGI requests that write channel 0's analytics configuration, as paths
// under "/qel-cgi/admin/". The settings pages and the template apply build
// every request here, so that a device receives the same text from both.

// Removes every zone of channel 0.
QString RemoveZonesCommand();
// Adds one zone: its id, enable state, name (percent-encoded) and points,
// each point as "x:y," (the last one too).
QString AddZoneCommand(unsigned int id, const ZonePoints& points, const QString& name, bool enable);

// Sets the zone detection timeout in seconds.
QString ZoneTimeoutCommand(int seconds);
// Removes every object class of channel 0.
QString RemoveObjectClassesCommand();
// Adds one object class; each value in the shortest text that reads back exactly.
QString AddObjectClassCommand(const ObjectClassValues& objectClass);

// Updates the camera position: field of view and tilt rounded to whole
// degrees, the height in metres in its shortest exact text.
QString CamposCommand(double fov, double camangle, double heightMetres);

// The encoder request "/qel-cgi/admin/encoder.fcgi?bitrate=B&fps=F" for the
// texts of the Bitrate and FPS fields. False, and `path` untouched, unless
// both are decimal integers, the bitrate is above 0 and the frame rate is
// from 1 to kMaxEncoderFps.
bool ComposeEncoderPath(const QString& bitrateText, const QString& fpsText, std::string& path);
constexpr int kMaxEncoderFps = 30;
