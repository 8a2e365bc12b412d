#pragma once

#include <QString>
#include <vector>

class VcaConfigReader;

// The parts of a configuration template that can be applied to a device, in
// the order they are sent.
enum class TemplatePart { Zones, Classifier, Encoder, Camera };

// The parts a user chose. The camera position is off by default: it depends
// on how each camera is mounted.
struct TemplatePartChoice {
    bool zones = true;
    bool classifier = true;
    bool encoder = true;
    bool camera = false;

    // The chosen parts in sending order.
    std::vector<TemplatePart> Chosen() const;
    bool Includes(TemplatePart part) const;
    void Set(TemplatePart part, bool chosen);
};

// "zones", "classifier and timeout", "encoder", "camera position".
QString TemplatePartName(TemplatePart part);
// The command line's word: "zones", "classifier", "encoder", "camera".
QString TemplatePartWord(TemplatePart part);

// Reads a comma-separated list of part words ("zones,classifier,encoder,camera")
// into `choice`, which then holds exactly those parts. False, with `error`
// naming the word, for an unknown or missing word; `choice` is then unchanged.
bool ParseTemplateParts(const QString& text, TemplatePartChoice& choice, QString& error);
// The words of the chosen parts, comma-separated, in sending order.
QString PrintTemplateParts(const TemplatePartChoice& choice);

// The requests (paths under "/qel-cgi/admin/") that write `part` of the
// template to channel 0 of a device, in sending order, built as the settings
// pages build them. Zones: the removal of every zone, then each zone with its
// id, points, name and enable state. Classifier: the timeout, then the
// removal of every object class and each class. Encoder: none when its
// values cannot be sent.
std::vector<QString> TemplatePartCommands(const VcaConfigReader& tmpl, TemplatePart part);
// Why `part` of the template cannot be written whole (a frame rate the
// encoder request cannot carry, a zone without points or with a type the add
// request cannot carry, settings this version does not know, ...); empty
// when it can.
QString TemplatePartProblem(const VcaConfigReader& tmpl, TemplatePart part);

enum class PartComparison {
    Matches,
    Differs,
    Unknown, // settings this version does not know stand in the part, on either side
};
// How channel 0 of the device's configuration holds `part` of the template:
// zones by id with their points, name, enable state, type, style and colour;
// the timeout and the object classes in order; encoder frame rate and
// bitrate; camera position (field of view and tilt as the request rounds
// them). A configuration without channel 0 differs.
PartComparison CompareTemplatePart(const VcaConfigReader& tmpl, const VcaConfigReader& device,
                                   TemplatePart part);
bool TemplatePartMatches(const VcaConfigReader& tmpl, const VcaConfigReader& device, TemplatePart part);
