#include "DeviceWebServer.h"

#include <httplib.h>
#include <chrono>
#include <utility>

namespace {

const std::string kCgiPrefix = "/qel-cgi/admin/";
// Devices answer plain text, uncompressed. The server library gzips every
// body whose type starts with "text/" when the client accepts it; media types
// are case-insensitive, so this spelling is the same type, sent as it is.
const char kTextType[] = "Text/plain";

}  // namespace

DeviceWebServer::DeviceWebServer(WebServerOptions options, VcaConfigState& state)
    : options_(std::move(options))
    , state_(state)
    , authenticator_(kUser, kPassword, options_.authScheme)
    , server_(std::make_unique<httplib::Server>())
{
    // Every device runs its own server, so each gets a small pool: enough
    // for the tool's two HTTP clients (each holding a kept-alive connection)
    // and a delayed answer at the same time.
    server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server_->set_keep_alive_timeout(kKeepAliveSeconds);
    server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        Handle(request, response);
    });
}

DeviceWebServer::~DeviceWebServer()
{
    Stop();
}

bool DeviceWebServer::Start(std::string& errorMessage)
{
    if (options_.port == 0) {
        boundPort_ = server_->bind_to_any_port(options_.bindAddress);
    } else if (server_->bind_to_port(options_.bindAddress, options_.port)) {
        boundPort_ = options_.port;
    } else {
        boundPort_ = -1;
    }
    if (boundPort_ <= 0) {
        errorMessage = "cannot bind HTTP port " + std::to_string(options_.port) + " on " + options_.bindAddress;
        return false;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return true;
}

void DeviceWebServer::Stop()
{
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

void DeviceWebServer::AskForCredentials(httplib::Response& response)
{
    response.status = 401;
    response.set_header("WWW-Authenticate", authenticator_.Challenge());
    response.set_content("Unauthorized\r\n", kTextType);
}

void DeviceWebServer::Handle(const httplib::Request& request, httplib::Response& response)
{
    if (options_.delayMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options_.delayMs));
    }
    if (!options_.redirectLocation.empty()) {
        response.set_redirect(options_.redirectLocation, 302);
        return;
    }
    if (options_.forcedStatus != 0) {
        // No body: a forced 200 is also the empty answer some tests need.
        response.status = options_.forcedStatus;
        return;
    }
    if (options_.rejectCredentials) {
        AskForCredentials(response);
        return;
    }
    if (request.path.compare(0, kCgiPrefix.size(), kCgiPrefix) != 0) {
        response.status = 404;
        response.set_content("Not Found\r\n", kTextType);
        return;
    }
    const std::string command = request.path.substr(kCgiPrefix.size());
    if (VcaConfigState::NeedsAuthentication(command) &&
        !authenticator_.Verify(request.method, request.target, request.get_header_value("Authorization"))) {
        AskForCredentials(response);
        return;
    }
    const VcaConfigState::Result result = state_.Execute(command, request.params, options_.configFault);
    response.status = result.status;
    response.set_content(result.body, kTextType);
}
