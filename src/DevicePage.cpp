#include "DevicePage.h"

#include "HttpClientDialog.h"
#include "UrlLogText.h"

#include <easylogging++.h>

DevicePage::DevicePage(QObject* parent, HttpClientDialog* http) : QObject(parent), httpClientDialog_(http) {}

DevicePage::~DevicePage() = default;

bool DevicePage::MayApply()
{
    if (!applyGate_ || applyGate_()) {
        return true;
    }
    emit StatusChanged(tr("Not applied; nothing was sent"));
    return false;
}

bool DevicePage::SendCommands(const QString& action, const QString& what, const std::vector<QString>& paths,
                              const QString& successText, const QString& cancelText)
{
    QString firstFailure;
    const int count = static_cast<int>(paths.size());
    for (int i = 0; i < count; ++i) {
        const QString& path = paths[static_cast<size_t>(i)];
        httpClientDialog_->setAction(action, i + 1, count);
        const bool sent = httpClientDialog_->request(path.toStdString());
        if (!sent && httpClientDialog_->wasCancelledByUser()) {
            VLOG(1) << "Command cancelled, the rest of the sequence is not sent";
            emit ChangeSent(what, QStringLiteral("cancelled, the device may hold part of the change"));
            emit StatusChanged(cancelText);
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
        emit ChangeSent(what, QStringLiteral("failed: ") + firstFailure);
        emit ErrorOccurred(firstFailure);
        return false;
    }
    emit ChangeSent(what, QStringLiteral("changed"));
    emit StatusChanged(successText);
    return true;
}
