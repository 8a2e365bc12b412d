// Any reply body read as a configuration: channel 0 is read only when the
// parser produced one, and every zone point it had is in the zone map, every
// zone in the settings map.
#include "VCA.pb.h"
#include "VcaConfigReader.h"

#include <google/protobuf/stubs/logging.h>
#include <cstdint>
#include <cstdlib>
#include <map>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The parser reports rejected texts on stderr, which is nearly every input here.
    static google::protobuf::LogSilencer* const silencer = new google::protobuf::LogSilencer;
    (void)silencer;

    const VcaConfigReader reader(QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size)));
    ZonesMap zones;
    ZoneSettingsMap settings;
    CamposValues campos;
    QString error;
    const bool hasChannel = reader.Config().ch_size() > 0;
    if (reader.ReadZones(zones, error) != hasChannel ||
        reader.ReadZoneSettings(settings, error) != hasChannel ||
        reader.ReadCampos(campos, error) != hasChannel) {
        std::abort();
    }
    if (!hasChannel) {
        return 0;
    }
    // A later zone with the same id replaces an earlier one.
    std::map<unsigned int, int> lastPointCount;
    for (const Zone& zone : reader.Config().ch(0).zones()) {
        lastPointCount[zone.id()] = zone.points_size();
    }
    if (lastPointCount.size() != zones.size() || settings.size() != zones.size()) {
        std::abort();
    }
    for (const auto& [id, count] : lastPointCount) {
        if (zones.at(id).size() != static_cast<size_t>(count)) {
            std::abort();
        }
    }
    return 0;
}
