#include "DevicePage.h"

#include "ErrorBox.h"
#include "HttpClientDialog.h"
#include "ModalRequests.h"
#include "PartWrite.h"
#include "UrlLogText.h"
#include "VcaConfigReader.h"

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

bool DevicePage::WriteAndReport(TemplatePart part, const WriteTexts& texts, const PartState& asked,
                                const PartState* expected, QWidget* window,
                                const std::function<void(const VcaConfigReader&)>& show)
{
    PartWriteResult result;
    {
        ModalRequests requests(
            *httpClientDialog_,
            tr("%1 to %2 is not finished. Stop it? What was already changed on the device is "
               "put back.")
                .arg(texts.action, httpClientDialog_->deviceText()));
        result = PartWrite(requests, part, texts.action).Run(asked, expected);
    }
    if (result.sent) {
        emit ChangeSent(texts.what,
                        result.state == PartWriteResult::State::Written
                            ? QStringLiteral("changed")
                            : (result.stopped ? QStringLiteral("stopped: ") : QStringLiteral("failed: ")) +
                                  (result.outcome.isEmpty() ? result.message : result.outcome));
    }
    switch (result.state) {
    case PartWriteResult::State::Written:
    case PartWriteResult::State::Unchanged:
        show(*result.device);
        emit StatusChanged(texts.applied);
        return true;
    case PartWriteResult::State::ChangedElsewhere:
        if (AskYesNo(window, tr("The device's %1 changed since they were loaded (%2). Load them again?")
                                 .arg(texts.noun, result.message))) {
            show(*result.device);
            emit StatusChanged(texts.reloaded);
        } else {
            emit StatusChanged(texts.notApplied);
        }
        return true;
    case PartWriteResult::State::NotSent:
        if (result.stopped) {
            emit StatusChanged(result.message);
        } else {
            emit ErrorOccurred(result.message);
        }
        return true;
    case PartWriteResult::State::PutBack:
    case PartWriteResult::State::NotPutBack:
    case PartWriteResult::State::Differs:
        break;
    }
    QString note;
    if (result.device) {
        // The page shows what the device holds, not an edit it does not hold.
        show(*result.device);
        note = texts.pageNote;
    }
    const QString text = result.Text(note);
    if (result.stopped && result.state == PartWriteResult::State::PutBack) {
        emit StatusChanged(text);
    } else {
        emit ErrorOccurred(text);
    }
    return result.device != nullptr;
}
