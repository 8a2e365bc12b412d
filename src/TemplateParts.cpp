#include "TemplateParts.h"

#include "PartState.h"
#include "VcaConfigReader.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>

namespace {

constexpr TemplatePart kAllParts[] = {TemplatePart::Zones, TemplatePart::Classifier, TemplatePart::Encoder,
                                      TemplatePart::Camera};

QString Tr(const char* text)
{
    return QCoreApplication::translate("TemplateParts", text);
}

} // namespace

std::vector<TemplatePart> TemplatePartChoice::Chosen() const
{
    std::vector<TemplatePart> parts;
    for (const TemplatePart part : kAllParts) {
        if (Includes(part)) {
            parts.push_back(part);
        }
    }
    return parts;
}

bool TemplatePartChoice::Includes(TemplatePart part) const
{
    switch (part) {
    case TemplatePart::Zones:
        return zones;
    case TemplatePart::Classifier:
        return classifier;
    case TemplatePart::Encoder:
        return encoder;
    case TemplatePart::Camera:
        return camera;
    }
    return false;
}

void TemplatePartChoice::Set(TemplatePart part, bool chosen)
{
    switch (part) {
    case TemplatePart::Zones:
        zones = chosen;
        break;
    case TemplatePart::Classifier:
        classifier = chosen;
        break;
    case TemplatePart::Encoder:
        encoder = chosen;
        break;
    case TemplatePart::Camera:
        camera = chosen;
        break;
    }
}

QString TemplatePartName(TemplatePart part)
{
    switch (part) {
    case TemplatePart::Zones:
        return Tr("zones");
    case TemplatePart::Classifier:
        return Tr("classifier and timeout");
    case TemplatePart::Encoder:
        return Tr("encoder");
    case TemplatePart::Camera:
        return Tr("camera position");
    }
    return {};
}

QString TemplatePartWord(TemplatePart part)
{
    switch (part) {
    case TemplatePart::Zones:
        return QStringLiteral("zones");
    case TemplatePart::Classifier:
        return QStringLiteral("classifier");
    case TemplatePart::Encoder:
        return QStringLiteral("encoder");
    case TemplatePart::Camera:
        return QStringLiteral("camera");
    }
    return {};
}

bool ParseTemplateParts(const QString& text, TemplatePartChoice& choice, QString& error)
{
    TemplatePartChoice parsed;
    for (const TemplatePart part : kAllParts) {
        parsed.Set(part, false);
    }
    for (const QString& raw : text.split(QLatin1Char(','))) {
        const QString word = raw.trimmed();
        const auto* found =
            std::find_if(std::begin(kAllParts), std::end(kAllParts),
                         [&word](TemplatePart part) { return TemplatePartWord(part) == word; });
        if (found == std::end(kAllParts)) {
            error = word.isEmpty() ? Tr("A part is missing in \"%1\"; the parts are zones, classifier, "
                                        "encoder and camera")
                                         .arg(text)
                                   : Tr("Unknown part \"%1\"; the parts are zones, classifier, encoder and "
                                        "camera")
                                         .arg(word);
            return false;
        }
        parsed.Set(*found, true);
    }
    choice = parsed;
    return true;
}

QString PrintTemplateParts(const TemplatePartChoice& choice)
{
    QStringList words;
    for (const TemplatePart part : choice.Chosen()) {
        words << TemplatePartWord(part);
    }
    return words.join(QLatin1Char(','));
}

QString TemplatePartProblem(const VcaConfigReader& tmpl, TemplatePart part)
{
    PartState state;
    QString error;
    if (!ReadPartState(tmpl, part, state, error)) {
        return error;
    }
    if (state.holdsUnknown) {
        return Tr("the template holds settings this version does not know (it was made by a newer version)");
    }
    return PartNotWritable(state);
}

std::vector<QString> TemplatePartCommands(const VcaConfigReader& tmpl, TemplatePart part)
{
    std::vector<QString> paths;
    PartState state;
    QString error;
    if (ReadPartState(tmpl, part, state, error)) {
        for (const PartRequest& request : PartRequests(nullptr, state)) {
            paths.push_back(request.path);
        }
    }
    return paths;
}

PartComparison CompareTemplatePart(const VcaConfigReader& tmpl, const VcaConfigReader& device,
                                   TemplatePart part)
{
    PartState a;
    PartState b;
    QString error;
    if (!ReadPartState(tmpl, part, a, error) || !ReadPartState(device, part, b, error)) {
        return PartComparison::Differs;
    }
    if (a.holdsUnknown || b.holdsUnknown) {
        return PartComparison::Unknown;
    }
    return SamePartState(a, b) ? PartComparison::Matches : PartComparison::Differs;
}

bool TemplatePartMatches(const VcaConfigReader& tmpl, const VcaConfigReader& device, TemplatePart part)
{
    return CompareTemplatePart(tmpl, device, part) == PartComparison::Matches;
}
