#include "ConfigTemplate.h"

#include "ToolVersion.h"
#include "VCA.pb.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <google/protobuf/text_format.h>
#include <string>

namespace {

constexpr uint32_t kMaxZoneCoordinate = 65535;

QString Tr(const char* text)
{
    return QCoreApplication::translate("ConfigTemplate", text);
}

// Header values come from the network (a device's name): a line break would
// end the comment and put the rest of the name into the template's fields.
QString OneLine(const QString& value)
{
    if (value.isEmpty()) {
        return Tr("not known");
    }
    QString line = value;
    for (QChar& c : line) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
            c.category() == QChar::Separator_Paragraph) {
            c = QChar::ReplacementCharacter;
        }
    }
    return line;
}

// The raw values: the reader's zone lists wrap wider ones to 16 bits, which
// would move the point elsewhere on another device.
bool CheckZonePoints(const Channel& channel, QString& error)
{
    for (const Zone& zone : channel.zones()) {
        for (const Point& point : zone.points()) {
            if (point.x() > kMaxZoneCoordinate || point.y() > kMaxZoneCoordinate) {
                error = Tr("Zone '%1' has a point outside 0–65535 (%2, %3)")
                            .arg(OneLine(QString::fromStdString(zone.name())))
                            .arg(point.x())
                            .arg(point.y());
                return false;
            }
        }
    }
    return true;
}

// The reader skips an enum value it does not know and leaves the field at its
// default: copied or applied, the zone would change its kind.
QString SkippedText(const QString& text, const VcaConfigReader& config)
{
    const VcaConfigReader::SkippedValue& skipped = config.SkippedEnumValues().front();
    return text.arg(skipped.line)
        .arg(QString::fromStdString(skipped.field), OneLine(QString::fromStdString(skipped.value)));
}

} // namespace

bool MakeConfigTemplate(const VcaConfigReader& config, const TemplateSource& source, QByteArray& text,
                        QString& error)
{
    if (!config.IsWhole()) {
        error = config.NotWholeMessage();
        return false;
    }
    if (config.Config().ch_size() == 0) {
        error = Tr("The device's configuration has no channel 0");
        return false;
    }
    if (!config.SkippedEnumValues().empty()) {
        error =
            SkippedText(Tr("The device's configuration holds a value this tool does not know (line %1: %2 "
                           "%3); a template would not hold it"),
                        config);
        return false;
    }
    // Fields this version does not know would be left out of the template.
    for (const VcaConfigReader::UnknownSetting& unknown : config.UnknownSettings()) {
        if (unknown.area != ConfigArea::Other) {
            error = Tr("The device's configuration holds a setting this tool does not know (line %1: %2); a "
                       "template would not hold it")
                        .arg(unknown.line)
                        .arg(OneLine(QString::fromStdString(unknown.field)));
            return false;
        }
    }
    const Channel& channel = config.Config().ch(0);
    if (!CheckZonePoints(channel, error)) {
        return false;
    }
    // The background model and the reinit threshold stay the target's own;
    // the reader takes a channel without them (a partial message), so the
    // template reads back whole without them.
    VCA result;
    Channel* copy = result.add_ch();
    *copy->mutable_zones() = channel.zones();
    *copy->mutable_campos() = channel.campos();
    copy->set_timeout(channel.timeout());
    *copy->mutable_objectclasses() = channel.objectclasses();
    *copy->mutable_encoder() = channel.encoder();

    std::string body;
    if (!google::protobuf::TextFormat::PrintToString(result, &body)) {
        error = Tr("The template could not be written");
        return false;
    }
    const QDateTime saved = source.savedUtc.isValid() ? source.savedUtc : QDateTime::currentDateTimeUtc();
    const QString header =
        QStringLiteral("# QEL IP Tool template\n"
                       "# Tool version: %1\n"
                       "# Source device: %2\n"
                       "# Source MAC address: %3\n"
                       "# Source IP address: %4\n"
                       "# Saved (UTC): %5\n")
            .arg(QString::fromLatin1(kToolVersion), OneLine(source.deviceName), OneLine(source.mac),
                 OneLine(source.address), saved.toUTC().toString(Qt::ISODate));
    const QString videoSize =
        source.videoWidth > 0 && source.videoHeight > 0
            ? QStringLiteral("# Source video size: %1x%2\n").arg(source.videoWidth).arg(source.videoHeight)
            : QString();
    text = header.toUtf8() + videoSize.toUtf8() + QByteArray::fromStdString(body);
    return true;
}

bool ReadConfigTemplate(const QByteArray& text, std::unique_ptr<VcaConfigReader>& reader, QString& error)
{
    auto read = std::make_unique<VcaConfigReader>(text);
    reader.reset();
    if (!read->IsWhole()) {
        error = Tr("The template could not be read whole (line %1, column %2: %3)")
                    .arg(read->NotWholeLine())
                    .arg(read->NotWholeColumn())
                    .arg(read->NotWholeReason());
        return false;
    }
    if (read->Config().ch_size() == 0) {
        error = Tr("The template holds no channel 0");
        return false;
    }
    if (!read->SkippedEnumValues().empty()) {
        error = SkippedText(Tr("The template holds a value this tool does not know (line %1: %2 %3)"), *read);
        return false;
    }
    if (!CheckZonePoints(read->Config().ch(0), error)) {
        return false;
    }
    reader = std::move(read);
    return true;
}

bool ReadTemplateVideoSize(const QByteArray& text, int& width, int& height)
{
    width = 0;
    height = 0;
    static const QRegularExpression line(QStringLiteral("^# Source video size: (\\d{1,5})x(\\d{1,5})$"));
    for (const QByteArray& raw : text.split('\n')) {
        if (!raw.startsWith('#')) {
            break; // the header ends at the first line of the configuration
        }
        const QRegularExpressionMatch match = line.match(QString::fromUtf8(raw).trimmed());
        if (match.hasMatch()) {
            const int w = match.captured(1).toInt();
            const int h = match.captured(2).toInt();
            if (w > 0 && h > 0) {
                width = w;
                height = h;
                return true;
            }
        }
    }
    return false;
}

TemplateSource ReadTemplateSource(const QByteArray& text)
{
    TemplateSource source;
    const auto value = [](const QString& line, const QString& label, QString& field) {
        if (!line.startsWith(label)) {
            return;
        }
        const QString read = line.mid(label.size()).trimmed();
        // Written by this tool in whichever language it ran in.
        if (read != QLatin1String("not known") && read != Tr("not known")) {
            field = read;
        }
    };
    for (const QByteArray& raw : text.split('\n')) {
        if (!raw.startsWith('#')) {
            break; // the header ends at the first line of the configuration
        }
        const QString line = QString::fromUtf8(raw).trimmed();
        value(line, QStringLiteral("# Source device:"), source.deviceName);
        value(line, QStringLiteral("# Source MAC address:"), source.mac);
        value(line, QStringLiteral("# Source IP address:"), source.address);
    }
    return source;
}

QString TemplateLabel(const QString& path, const QByteArray& text)
{
    const QString file = QFileInfo(path).fileName();
    const TemplateSource source = ReadTemplateSource(text);
    if (source.deviceName.isEmpty() && source.address.isEmpty()) {
        return Tr("%1, source device not known").arg(file);
    }
    if (source.deviceName.isEmpty() || source.address.isEmpty()) {
        return Tr("%1, from %2").arg(file, source.deviceName + source.address);
    }
    return Tr("%1, from %2 (%3)").arg(file, source.deviceName, source.address);
}
