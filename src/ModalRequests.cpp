#include "ModalRequests.h"

#include "HttpClientDialog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace {

QString Tr(const char* text)
{
    return QCoreApplication::translate("ModalRequests", text);
}

} // namespace

ModalRequests::ModalRequests(HttpClientDialog& http, const QString& stopQuestion) : http_(http)
{
    http_.BeginSequence(stopQuestion);
}

ModalRequests::~ModalRequests()
{
    http_.EndSequence();
}

bool ModalRequests::Get(const QString& path, QByteArray& body, QString& error)
{
    const bool ok = http_.request(path.toStdString());
    body = QByteArray::fromStdString(http_.content());
    error = http_.lastError();
    if (!ok && error.isEmpty()) {
        error = Tr("The device did not accept a command");
    }
    return ok;
}

void ModalRequests::Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool ModalRequests::StopRequested() const
{
    return http_.StopRequested();
}

void ModalRequests::ShowReading()
{
    http_.setLabelText(Tr("Reading the configuration of %1\u2026").arg(http_.deviceText()));
}

void ModalRequests::ShowStep(const QString& action, int index, int count)
{
    http_.setAction(action, index, count);
}

void ModalRequests::ShowPuttingBack()
{
    http_.SetStopQuestion({});
    http_.setLabelText(Tr("Putting back what was changed on %1\u2026").arg(http_.deviceText()));
}
