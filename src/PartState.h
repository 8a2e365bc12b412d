#pragma once

#include "TemplateParts.h"
#include "VcaConfigReader.h"

#include <QString>
#include <QStringList>
#include <cstddef>
#include <vector>

// What one part of channel 0's configuration holds, in the terms of the
// requests that write it: the zones, the zone timeout with the object
// classes, the encoder, or the camera position. Only the fields of `part`
// are used.
struct PartState {
    TemplatePart part = TemplatePart::Zones;
    ZonesMap zones;
    ZoneSettingsMap zoneSettings;
    size_t zoneCount = 0; // zones as the text holds them: two with one id count twice
    ClassifierValues classifier;
    EncoderValues encoder;
    CamposValues campos;
    // Settings this version does not know stand in the part; they were
    // skipped when it was read.
    bool holdsUnknown = false;
};

// One request that writes a part, and the step it is for the user
// ("zone 4 'Gate'").
struct PartRequest {
    QString path;
    QString step;
};

// The part as `config` holds it; false, with a user text, without channel 0.
bool ReadPartState(const VcaConfigReader& config, TemplatePart part, PartState& state, QString& error);

// The part as its requests leave it when they write `state`: every zone an
// alarm polygon without colour, with its points, name and enable state.
PartState AsWritten(const PartState& state);

// The same values, skipped settings included; what the device holds
// against what was read or asked.
bool SamePartState(const PartState& a, const PartState& b);

// The requests that turn what `from` holds into `to`, in sending order; with
// `from` null, every request that writes `to`. Zones and object classes are
// written by removing them all and adding each: only when they differ.
std::vector<PartRequest> PartRequests(const PartState* from, const PartState& to);

// The settings of a zone that the add request cannot carry, one text each
// ("type NONDETECTION", "colour 1,2,3", "settings this version does not know
// (dwell)"); empty when re-adding it keeps it whole.
QStringList ZoneSettingsNotCarried(const ZoneSettings& zone);
// A device text quoted in a message, cut to a length a message can hold.
QString QuotedDeviceText(const QString& text);

// Why `state` cannot be written whole by its requests (a zone without
// points, a zone setting the add request cannot carry, a timeout or encoder
// value the request cannot carry); empty when it can. Settings this version
// does not know are the caller's to judge (holdsUnknown).
QString PartNotWritable(const PartState& state);

// What changed from `earlier` to `later`, for the user: "zone 9 'Other'
// added, zone 1 'Yard' changed".
QString DescribePartChange(const PartState& earlier, const PartState& later);

// What the part holds, for the user: "1 zone (Yard)".
QString DescribePart(const PartState& state);
