#include "DevicePage.h"

#include "HttpClientDialog.h"

#include <easylogging++.h>

DevicePage::DevicePage(QObject* parent, HttpClientDialog* http) : QObject(parent), httpClientDialog_(http) {}

DevicePage::~DevicePage() = default;

bool DevicePage::SendCommands(const std::vector<QString>& paths, const QString& successText)
{
    QString firstFailure;
    for (const QString& path : paths) {
        if (!httpClientDialog_->request(path.toStdString()) && firstFailure.isEmpty()) {
            firstFailure = httpClientDialog_->lastError();
            if (firstFailure.isEmpty()) {
                firstFailure = tr("The device did not accept a command");
            }
            VLOG(1) << "Command failed: " << path.toStdString() << ": " << firstFailure.toStdString();
        }
    }
    if (!firstFailure.isEmpty()) {
        emit ErrorOccurred(firstFailure);
        return false;
    }
    emit StatusChanged(successText);
    return true;
}
