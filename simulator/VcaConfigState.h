#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

class VCA;

// The analytics configuration and video source settings one simulated device
// keeps in memory, and the CGI commands that read and change them. Safe to
// use from the web server's worker threads: every access holds mutex_.
class VcaConfigState final {
public:
    // Query parameters of one request, decoded; a repeated name keeps its first value.
    using Params = std::multimap<std::string, std::string>;

    // Outcome of a command: an HTTP status and a text body.
    struct Result {
        int status = 200;
        std::string body;
    };

    // How getconfig.fcgi spoils its answer, for the reliability tests:
    // UnknownFields puts a field and an enum value the schema does not know
    // into the first zone (as a newer firmware might), Cut ends the text
    // right after the first zone.
    enum class ConfigFault { None, Malformed, NoChannels, UnknownFields, Cut };

    VcaConfigState();
    ~VcaConfigState();
    VcaConfigState(const VcaConfigState&) = delete;
    VcaConfigState& operator=(const VcaConfigState&) = delete;

    // Runs the command named by the last part of the path ("getconfig.fcgi",
    // "vca.cgi", ...). Unknown commands give 404, bad parameters 400, and a
    // rejected command leaves the state unchanged.
    Result Execute(const std::string& command, const Params& params, ConfigFault fault = ConfigFault::None);

    // True for the commands that change the configuration through the tool's
    // modal client; those need credentials.
    static bool NeedsAuthentication(const std::string& command);

    void SetSourcePassword(const std::string& password);

    // A whole configuration in protobuf text format: every field known,
    // every required one given, at least one channel. Otherwise false with
    // the first error.
    static bool CheckConfigText(const std::string& text, std::string& error);
    // Replaces the configuration with `text`; false, changing nothing, when
    // CheckConfigText rejects it.
    bool SetConfigText(const std::string& text, std::string& error);

    // The configuration in protobuf text format, as getconfig.fcgi answers it.
    std::string ConfigText(ConfigFault fault = ConfigFault::None) const;

private:
    Result ApplyVca(const Params& params);
    Result ApplySetCam(const Params& params);
    Result ApplyEncoder(const Params& params);
    Result ApplyZoneTimeout(const Params& params);
    std::string SourceText() const;

    mutable std::mutex mutex_; // guards vca_
    std::unique_ptr<VCA> vca_;
};
