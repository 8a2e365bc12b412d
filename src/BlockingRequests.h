#pragma once

#include "DeviceRequests.h"

#include <QString>

class HttpClientModule;

// Device requests over the asynchronous HTTP client, each waited for in a
// local event loop: for the template batch and the command line, whose
// cancel waits for the device at work. Offers the device web login when a
// request asks for it. GUI thread only.
class BlockingRequests final : public DeviceRequests {
public:
    // `host`: the device's address, with ":port" when not 80.
    explicit BlockingRequests(const QString& host);
    ~BlockingRequests() override;
    BlockingRequests(const BlockingRequests&) = delete;
    BlockingRequests& operator=(const BlockingRequests&) = delete;

    bool Get(const QString& path, QByteArray& body, QString& error) override;
    void Wait(int ms) override;

private:
    QString host_;
    HttpClientModule* http_ = nullptr; // owned
};
