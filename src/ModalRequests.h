#pragma once

#include "DeviceRequests.h"

class HttpClientDialog;

// Device requests through the settings dialog's modal HTTP client: one
// progress window stays shown, in its place, for the whole change; closing
// it asks `stopQuestion` and, answered Yes, stops the change once the request
// at work has finished. GUI thread only.
class ModalRequests final : public DeviceRequests {
public:
    ModalRequests(HttpClientDialog& http, const QString& stopQuestion);
    ~ModalRequests() override;
    ModalRequests(const ModalRequests&) = delete;
    ModalRequests& operator=(const ModalRequests&) = delete;

    bool Get(const QString& path, QByteArray& body, QString& error) override;
    void Wait(int ms) override;
    bool StopRequested() const override;
    void ShowReading() override;
    void ShowStep(const QString& action, int index, int count) override;
    void ShowPuttingBack() override;

private:
    HttpClientDialog& http_;
};
