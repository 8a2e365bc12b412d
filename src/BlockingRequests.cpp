#include "BlockingRequests.h"

#include "DeviceWebLogin.h"
#include "HttpClientModule.h"

#include <QEventLoop>
#include <QTimer>

BlockingRequests::BlockingRequests(const QString& host) : host_(host), http_(new HttpClientModule(nullptr))
{
    http_->SetCredentials(QString::fromLatin1(kDeviceWebUser), QString::fromLatin1(kDeviceWebPassword));
}

BlockingRequests::~BlockingRequests()
{
    delete http_;
}

bool BlockingRequests::Get(const QString& path, QByteArray& body, QString& error)
{
    bool answered = false;
    bool ok = false;
    QEventLoop loop;
    // The client's time limits end every request.
    const auto done = QObject::connect(http_, &HttpClientModule::Done, &loop, [&](const QByteArray& content) {
        body = content;
        ok = true;
        answered = true;
        loop.quit();
    });
    const auto failed = QObject::connect(http_, &HttpClientModule::Failed, &loop, [&](const QString& text) {
        error = text;
        answered = true;
        loop.quit();
    });
    http_->Start(QStringLiteral("http://%1%2").arg(host_, path).toStdString());
    if (!answered) {
        loop.exec();
    }
    QObject::disconnect(done);
    QObject::disconnect(failed);
    return ok;
}

void BlockingRequests::Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
