#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <memory>

#include "VcaConfigReader.h"

// A configuration template: channel 0's zones, zone timeout, object classes,
// camera position and encoder of one device, in the device's own
// configuration text format, after a comment header that says where and when
// it was taken. It never holds the video source (and so never its password).

// Where a template was taken from. Empty fields are written as not known.
struct TemplateSource {
    QString deviceName;
    QString mac;
    QString address;
    QDateTime savedUtc;
    // The source's video size in pixels, when known: zone points are relative
    // to the picture, so a target with another aspect may not fit them.
    int videoWidth = 0;
    int videoHeight = 0;
};

// Makes the template text of a configuration read whole into `text`. False,
// with a user text in `error`, for a configuration that was not read whole,
// has no channel 0, holds a value the reader skipped or a field it does not
// know in a part the template holds (the template would misstate it) or a
// zone point outside 0..65535.
bool MakeConfigTemplate(const VcaConfigReader& config, const TemplateSource& source, QByteArray& text,
                        QString& error);

// Reads a template by the configuration reader's whole-or-nothing rule. On
// success `reader` holds it; otherwise `reader` is reset and `error` says
// why: a text that does not read whole (with line and column), no channel 0,
// a value the reader skipped, a zone point outside 0..65535.
bool ReadConfigTemplate(const QByteArray& text, std::unique_ptr<VcaConfigReader>& reader, QString& error);

// The source's video size that the template's header gives ("# Source video
// size: 1920x1080"); false, with both 0, when the header does not say it.
bool ReadTemplateVideoSize(const QByteArray& text, int& width, int& height);

// The source that the template's header gives; fields the header does not
// give, or gives as not known, stay empty. Only the header is read (the
// comment lines before the configuration).
TemplateSource ReadTemplateSource(const QByteArray& text);

// How a template names itself to a user: its file name and its source
// device, "gate.txt, from Gate North (10.77.0.12)"; "…, source device not
// known" when the header does not name it.
QString TemplateLabel(const QString& path, const QByteArray& text);
