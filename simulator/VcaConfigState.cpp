#include "VcaConfigState.h"

#include "VCA.pb.h"

#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/text_format.h>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

namespace {

const char kOk[] = "OK\r\n";
const char kBadRequest[] = "Bad Request\r\n";

std::optional<std::string> Param(const VcaConfigState::Params& params, const std::string& name)
{
    const auto it = params.find(name);
    if (it == params.end()) {
        return std::nullopt;
    }
    return it->second;
}

// A whole decimal number in 0..UINT32_MAX, nothing else on the text.
std::optional<uint32_t> ParseUint32(const std::optional<std::string>& text)
{
    if (!text || text->empty() || (*text)[0] == '-' || (*text)[0] == '+' || (*text)[0] == ' ') {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text->c_str(), &end, 10);
    if (errno != 0 || end != text->c_str() + text->size() || value > std::numeric_limits<uint32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

// A finite decimal number (also in exponent form), nothing else on the text.
std::optional<double> ParseDouble(const std::optional<std::string>& text)
{
    if (!text || text->empty() || (*text)[0] == ' ') {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text->c_str(), &end);
    if (errno != 0 || end != text->c_str() + text->size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// Zone points as the tool sends them: "x:y," repeated, the last one with its
// comma too (a missing final comma is accepted).
bool ParsePoints(const std::string& text, Zone& zone)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        const std::string item = text.substr(pos, comma - pos);
        const size_t colon = item.find(':');
        if (colon == std::string::npos) {
            return false;
        }
        const auto x = ParseUint32(item.substr(0, colon));
        const auto y = ParseUint32(item.substr(colon + 1));
        if (!x || !y) {
            return false;
        }
        Point* point = zone.add_points();
        point->set_x(*x);
        point->set_y(*y);
        pos = comma + 1;
    }
    return zone.points_size() > 0;
}

// The parser's first error as "line L, column C: text" (1-based).
class FirstParseError final : public google::protobuf::io::ErrorCollector {
public:
    void AddError(int line, google::protobuf::io::ColumnNumber column, const std::string& message) override
    {
        if (text.empty()) {
            text = line < 0 ? message
                            : "line " + std::to_string(line + 1) + ", column " + std::to_string(column + 1) +
                                  ": " + message;
        }
    }
    std::string text;
};

bool ParseStrictly(const std::string& text, VCA& vca, std::string& error)
{
    google::protobuf::TextFormat::Parser parser;
    FirstParseError collector;
    parser.RecordErrorsTo(&collector);
    if (!parser.ParseFromString(text, &vca)) {
        error = collector.text.empty() ? "not a configuration" : collector.text;
        return false;
    }
    if (vca.ch_size() == 0) {
        error = "no channel";
        return false;
    }
    return true;
}

constexpr char kFirstZoneStart[] = "\n  zones {\n";

// Where the first zone's block ends in a printed configuration (after its
// closing line); npos without zones.
size_t FirstZoneEnd(const std::string& text)
{
    const size_t zone = text.find(kFirstZoneStart);
    if (zone == std::string::npos) {
        return std::string::npos;
    }
    const size_t close = text.find("\n  }\n", zone + 1);
    return close == std::string::npos ? std::string::npos : close + 5;
}

void FillDefaults(VCA& vca)
{
    Channel* channel = vca.add_ch();
    Zone* zone = channel->add_zones();
    zone->set_id(1);
    zone->set_enable(true);
    zone->set_name("Zone_1");
    zone->set_style(Zone::POLYGON);
    for (const auto& [x, y] :
         {std::pair<uint32_t, uint32_t>{6553, 6553}, {58982, 6553}, {58982, 58982}, {6553, 58982}}) {
        Point* point = zone->add_points();
        point->set_x(x);
        point->set_y(y);
    }
    Campos* campos = channel->mutable_campos();
    campos->set_fov(60);
    campos->set_camangle(30);
    campos->set_height(4.5);
    channel->set_timeout(60);
    ObjectClasses* human = channel->add_objectclasses();
    human->set_minarea(0.2);
    human->set_maxarea(1.5);
    human->set_minheight(1);
    human->set_maxheight(2.2);
    Encoder* encoder = channel->mutable_encoder();
    encoder->set_fps(25);
    encoder->set_bitrate(2500000);
    MOG* mog = channel->mutable_mog();
    mog->set_history(2000);
    mog->set_backgroundratio(0.5);
    mog->set_noisesigma(11);
    mog->set_varthreshold(6.25);

    VideoSource* source = vca.mutable_videosource();
    source->set_model("axis");
    source->set_host("192.168.0.90");
    source->set_port(554);
    source->set_login("admin");
    source->set_password("admin");
}

} // namespace

VcaConfigState::VcaConfigState() : vca_(std::make_unique<VCA>())
{
    FillDefaults(*vca_);
}

VcaConfigState::~VcaConfigState() = default;

bool VcaConfigState::NeedsAuthentication(const std::string& command)
{
    return command == "encoder.fcgi" || command == "vca.cgi" || command == "setzonetimeout.fcgi";
}

VcaConfigState::Result VcaConfigState::Execute(const std::string& command, const Params& params,
                                               ConfigFault fault)
{
    if (command == "getconfig.fcgi") {
        return {200, ConfigText(fault)};
    }
    if (command == "getcam.fcgi") {
        return {200, SourceText()};
    }
    if (command == "setcam.fcgi") {
        return ApplySetCam(params);
    }
    if (command == "encoder.fcgi") {
        return ApplyEncoder(params);
    }
    if (command == "vca.cgi") {
        return ApplyVca(params);
    }
    if (command == "setzonetimeout.fcgi") {
        return ApplyZoneTimeout(params);
    }
    return {404, "Not Found\r\n"};
}

std::string VcaConfigState::ConfigText(ConfigFault fault) const
{
    std::string text;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (fault == ConfigFault::NoChannels) {
            VCA copy(*vca_);
            copy.clear_ch();
            google::protobuf::TextFormat::PrintToString(copy, &text);
            return text;
        }
        if (fault == ConfigFault::UnknownFields && vca_->ch_size() > 0 && vca_->ch(0).zones_size() > 0) {
            VCA copy(*vca_);
            copy.mutable_ch(0)->mutable_zones(0)->clear_type(); // the unknown value stands in for it
            google::protobuf::TextFormat::PrintToString(copy, &text);
        } else {
            google::protobuf::TextFormat::PrintToString(*vca_, &text);
        }
    }
    if (fault == ConfigFault::UnknownFields) {
        const size_t zone = text.find(kFirstZoneStart);
        const size_t at = zone == std::string::npos ? text.find('\n') + 1 : zone + sizeof kFirstZoneStart - 1;
        text.insert(at, "    dwell {\n      seconds: 5\n    }\n    type: LOITERING\n");
    }
    if (fault == ConfigFault::Cut) {
        const size_t end = FirstZoneEnd(text);
        text.resize(end == std::string::npos ? text.size() / 2 : end);
    }
    if (fault == ConfigFault::Malformed) {
        // Cut inside the first zone and leave a token the parser rejects.
        const size_t cut = text.find("points");
        text = text.substr(0, cut == std::string::npos ? text.size() / 2 : cut) + "points { x: oops }\n}";
    }
    return text;
}

void VcaConfigState::SetSourcePassword(const std::string& password)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    vca_->mutable_videosource()->set_password(password);
}

bool VcaConfigState::CheckConfigText(const std::string& text, std::string& error)
{
    VCA vca;
    return ParseStrictly(text, vca, error);
}

bool VcaConfigState::SetConfigText(const std::string& text, std::string& error)
{
    auto vca = std::make_unique<VCA>();
    if (!ParseStrictly(text, *vca, error)) {
        return false;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    vca_ = std::move(vca);
    return true;
}

std::string VcaConfigState::SourceText() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const VideoSource& source = vca_->videosource();
    return "model=" + source.model() + "\r\nhost=" + source.host() +
           "\r\nport=" + std::to_string(source.port()) + "\r\nlogin=" + source.login() + "\r\n";
}

VcaConfigState::Result VcaConfigState::ApplySetCam(const Params& params)
{
    const auto model = Param(params, "model");
    const auto host = Param(params, "host");
    const auto login = Param(params, "login");
    const auto password = Param(params, "password");
    if (!model || !host || !login || !password) {
        return {400, kBadRequest};
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    VideoSource* source = vca_->mutable_videosource();
    source->set_model(*model);
    source->set_host(*host);
    source->set_login(*login);
    source->set_password(*password);
    return {200, kOk};
}

VcaConfigState::Result VcaConfigState::ApplyEncoder(const Params& params)
{
    const auto bitrate = ParseUint32(Param(params, "bitrate"));
    const auto fps = ParseUint32(Param(params, "fps"));
    if (!bitrate || !fps || *bitrate == 0 || *fps == 0) {
        return {400, kBadRequest};
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (vca_->ch_size() == 0) {
        return {400, kBadRequest};
    }
    Encoder* encoder = vca_->mutable_ch(0)->mutable_encoder();
    encoder->set_bitrate(*bitrate);
    encoder->set_fps(*fps);
    return {200, kOk};
}

VcaConfigState::Result VcaConfigState::ApplyZoneTimeout(const Params& params)
{
    const auto timeout = ParseUint32(Param(params, "timeout"));
    if (!timeout) {
        return {400, kBadRequest};
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (vca_->ch_size() == 0) {
        return {400, kBadRequest};
    }
    vca_->mutable_ch(0)->set_timeout(*timeout);
    return {200, kOk};
}

VcaConfigState::Result VcaConfigState::ApplyVca(const Params& params)
{
    const std::string action = Param(params, "action").value_or("");
    const std::string group = Param(params, "group").value_or("");
    const std::string object = Param(params, "object").value_or("");

    const std::lock_guard<std::mutex> lock(mutex_);
    if (vca_->ch_size() == 0) {
        return {400, kBadRequest};
    }
    Channel* channel = vca_->mutable_ch(0);

    if (action == "remove" && group == "VCA.Ch0.Zn*") {
        channel->clear_zones();
        return {200, kOk};
    }
    if (action == "remove" && group == "VCA.Ch0.Obj*") {
        channel->clear_objectclasses();
        return {200, kOk};
    }
    if (group != "VCA.Ch0") {
        return {400, kBadRequest};
    }
    if (action == "update" && object == "campos") {
        const auto fov = ParseUint32(Param(params, "FOV"));
        const auto camangle = ParseUint32(Param(params, "camangle"));
        const auto height = ParseDouble(Param(params, "height"));
        if (!fov || !camangle || !height) {
            return {400, kBadRequest};
        }
        Campos* campos = channel->mutable_campos();
        campos->set_fov(*fov);
        campos->set_camangle(*camangle);
        campos->set_height(*height);
        return {200, kOk};
    }
    if (action == "add" && object == "zone") {
        const auto id = ParseUint32(Param(params, "id"));
        const auto name = Param(params, "name");
        const std::string enable = Param(params, "enable").value_or("yes");
        Zone zone;
        if (!id || !name || (enable != "yes" && enable != "no") ||
            !ParsePoints(Param(params, "points").value_or(""), zone)) {
            return {400, kBadRequest};
        }
        zone.set_id(*id);
        zone.set_name(*name);
        zone.set_enable(enable == "yes");
        zone.set_style(Zone::POLYGON);
        *channel->add_zones() = std::move(zone);
        return {200, kOk};
    }
    if (action == "add" && object == "objectclass") {
        const auto minArea = ParseDouble(Param(params, "minArea"));
        const auto maxArea = ParseDouble(Param(params, "maxArea"));
        const auto minHeight = ParseDouble(Param(params, "minHeight"));
        const auto maxHeight = ParseDouble(Param(params, "maxHeight"));
        if (!minArea || !maxArea || !minHeight || !maxHeight) {
            return {400, kBadRequest};
        }
        ObjectClasses* objectClass = channel->add_objectclasses();
        objectClass->set_minarea(*minArea);
        objectClass->set_maxarea(*maxArea);
        objectClass->set_minheight(*minHeight);
        objectClass->set_maxheight(*maxHeight);
        return {200, kOk};
    }
    return {400, kBadRequest};
}
