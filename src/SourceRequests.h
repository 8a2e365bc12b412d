#pragma once

#include "VcaCommands.h"

#include <QString>
#include <string>

// The requests of the video source page.

// "http://<deviceIp>/qel-cgi/admin/setcam.fcgi?model=..&host=..&login=..&password=.."
// Each value is sent as UTF-8 with every byte other than letters, digits and
// "-._~" percent-encoded, so that a value holding "&", "=", "#", "%", "+" or a
// space reaches the device whole and cannot add parameters of its own.
QString ComposeSetCamUrl(const QString& deviceIp, const QString& model, const QString& host,
                         const QString& login, const QString& password);

// ComposeEncoderPath (VcaCommands.h) builds the encoder request.

// The encoder field whose text cannot be sent, with a message that names it
// and its range. Both fields empty is no error: the encoder is left alone.
enum class EncoderField { None, Bitrate, Fps };
EncoderField FindInvalidEncoderField(const QString& bitrateText, const QString& fpsText, QString& message);
