#include "DialogProbe.h"

#include "RtspFrameReceiver.h"
#include "SettingsDialog.h"

#include <QTest>

DialogProbe::DialogProbe(SettingsDialog* dialog) : status_(dialog, &SettingsDialog::StatusChanged)
{
    auto* receiver = dialog->findChild<RtspFrameReceiver*>();
    countsFrames_ = receiver != nullptr;
    if (countsFrames_) {
        QObject::connect(
            receiver, &RtspFrameReceiver::FrameReceived, &frameCounter_, [this] { ++frames_; },
            Qt::QueuedConnection);
    }
}

bool DialogProbe::WaitFrames(int count, int timeoutMs)
{
    const int target = frames_ + count;
    return QTest::qWaitFor([this, target] { return frames_ >= target; }, timeoutMs);
}

QStringList DialogProbe::Statuses() const
{
    QStringList texts;
    for (const QList<QVariant>& arguments : status_) {
        texts << arguments.at(0).toString();
    }
    return texts;
}
