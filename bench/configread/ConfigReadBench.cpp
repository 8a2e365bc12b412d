// A device's configuration of about 4 MiB (one channel with many zones, as
// the device prints it) read with 1000 settings of a newer firmware spread
// through its zones (unknown zone types and unknown fields, half each), and
// the same configuration without them as the reference, in one run. Prints
// min, median and max of several reads of each and their ratio. The goal:
// under 0.5 s, and under twice the reference.
#include "VCA.pb.h"
#include "VcaConfigReader.h"

#include <google/protobuf/text_format.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr size_t kTargetBytes = 4u << 20;
constexpr int kUnknowns = 1000;
constexpr int kRuns = 7;
constexpr int kPointsPerZone = 6;

void AddZone(Channel& channel, int id)
{
    Zone* zone = channel.add_zones();
    zone->set_id(static_cast<uint32_t>(id));
    for (int p = 0; p < kPointsPerZone; ++p) {
        Point* point = zone->add_points();
        point->set_x(static_cast<uint32_t>((id * 7919 + p * 10007) % 65536));
        point->set_y(static_cast<uint32_t>((id * 104729 + p * 4099) % 65536));
    }
    zone->set_enable(id % 3 != 0);
    zone->set_name("Zone_" + std::to_string(id));
    ColorRGB* colour = zone->mutable_color();
    colour->set_r(static_cast<uint32_t>(id % 256));
    colour->set_g(128);
    colour->set_b(255);
    // No type: the unknown text gives some zones one the schema lacks.
    zone->set_style(id % 5 == 0 ? Zone::LINE : Zone::POLYGON);
}

std::string ConfigText(int zones)
{
    VCA vca;
    Channel* channel = vca.add_ch();
    for (int id = 1; id <= zones; ++id) {
        AddZone(*channel, id);
    }
    channel->mutable_campos()->set_fov(40);
    channel->mutable_campos()->set_camangle(25);
    channel->mutable_campos()->set_height(4.5);
    channel->set_timeout(45);
    for (int c = 0; c < 4; ++c) {
        ObjectClasses* objectClass = channel->add_objectclasses();
        objectClass->set_minarea(0.5 * c);
        objectClass->set_maxarea(2.25 + c);
        objectClass->set_minheight(1);
        objectClass->set_maxheight(2 + c);
    }
    channel->mutable_encoder()->set_fps(25);
    channel->mutable_encoder()->set_bitrate(2000000);
    channel->mutable_mog()->set_history(500);
    VideoSource* source = vca.mutable_videosource();
    source->set_model("axis");
    source->set_host("192.168.0.90");
    source->set_login("root");
    source->set_password("secret");
    std::string text;
    google::protobuf::TextFormat::PrintToString(vca, &text);
    return text;
}

// The same text with kUnknowns settings spread evenly through its zones.
std::string WithUnknowns(const std::string& clean, int zones)
{
    static const std::string kZoneStart = "  zones {\n";
    const int every = std::max(1, zones / kUnknowns);
    std::string text;
    text.reserve(clean.size() + kUnknowns * 40);
    size_t from = 0;
    int zone = 0;
    int inserted = 0;
    for (size_t at = clean.find(kZoneStart); at != std::string::npos; at = clean.find(kZoneStart, at + 1)) {
        if (zone++ % every != 0 || inserted == kUnknowns) {
            continue;
        }
        const size_t after = at + kZoneStart.size();
        text.append(clean, from, after - from);
        text += inserted % 2 == 0 ? "    type: LOITERING\n" : "    dwell {\n      seconds: 5\n    }\n";
        from = after;
        ++inserted;
    }
    text.append(clean, from, std::string::npos);
    return text;
}

struct Figures {
    double minMs = 0;
    double medianMs = 0;
    double maxMs = 0;
};

Figures Summary(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2], ms.back()};
}

struct Read {
    std::vector<double> ms;
    bool whole = false;
    size_t unknowns = 0;
};

void TimeRead(const QByteArray& text, Read& read)
{
    const auto start = std::chrono::steady_clock::now();
    const VcaConfigReader reader(text);
    read.ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    read.whole = reader.IsWhole();
    read.unknowns = reader.UnknownSettings().size();
}

void Print(const char* what, size_t bytes, const Figures& figures, bool whole, size_t unknowns)
{
    std::printf("configread: %s: %.2f MiB, %s, %zu unknown settings listed; %d reads: min %.1f ms, median "
                "%.1f ms, max %.1f ms\n",
                what, static_cast<double>(bytes) / (1u << 20), whole ? "read whole" : "NOT whole", unknowns,
                kRuns, figures.minMs, figures.medianMs, figures.maxMs);
}

} // namespace

int main()
{
    const std::string sample = ConfigText(100);
    const int zones = static_cast<int>(kTargetBytes / (sample.size() / 100));
    const std::string clean = ConfigText(zones);
    const std::string unknown = WithUnknowns(clean, zones);

    const QByteArray cleanBytes = QByteArray::fromStdString(clean);
    const QByteArray unknownBytes = QByteArray::fromStdString(unknown);
    // Taken in turns, so that a load on the machine falls on both alike.
    Read reference;
    Read read;
    for (int run = 0; run < kRuns; ++run) {
        TimeRead(cleanBytes, reference);
        TimeRead(unknownBytes, read);
    }
    const Figures referenceFigures = Summary(reference.ms);
    const Figures figures = Summary(read.ms);
    Print("reference, without unknown settings", clean.size(), referenceFigures, reference.whole,
          reference.unknowns);
    Print("with unknown settings", unknown.size(), figures, read.whole, read.unknowns);

    const double ratio = figures.medianMs / referenceFigures.medianMs;
    std::printf("configread: %d zones; median with unknown settings / reference: %.2f\n", zones, ratio);
    const bool met = figures.medianMs < 500 && ratio < 2;
    std::printf("configread: goal under 500 ms and under 2x the reference: %s\n", met ? "met" : "missed");
    const bool right = read.whole && reference.whole && reference.unknowns == 0 &&
                       read.unknowns == static_cast<size_t>(kUnknowns);
    return right && met ? 0 : 1;
}
