#include "DevicePage.h"

#include "HttpClientDialog.h"
#include "UrlLogText.h"

#include <easylogging++.h>

DevicePage::DevicePage(QObject* parent, HttpClientDialog* http) : QObject(parent), httpClientDialog_(http) {}

DevicePage::~DevicePage() = default;

bool DevicePage::SendCommands(const std::vector<QString>& paths, const QString& successText,
                              const QString& cancelText)
{
    QString firstFailure;
    for (const QString& path : paths) {
        const bool sent = httpClientDialog_->request(path.toStdString());
        if (!sent && httpClientDialog_->wasCancelledByUser()) {
            VLOG(1) << "Command cancelled, the rest of the sequence is not sent";
            emit ErrorOccurred(cancelText);
            return false;
        }
        if (!sent && firstFailure.isEmpty()) {
            firstFailure = httpClientDialog_->lastError();
            if (firstFailure.isEmpty()) {
                firstFailure = tr("The device did not accept a command");
            }
            VLOG(1) << "Command failed: " << UrlLogText(path.toStdString()) << ": "
                    << firstFailure.toStdString();
        }
    }
    if (!firstFailure.isEmpty()) {
        emit ErrorOccurred(firstFailure);
        return false;
    }
    emit StatusChanged(successText);
    return true;
}
