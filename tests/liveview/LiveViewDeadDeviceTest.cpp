// A device that takes the RTSP connection but never answers: after a minute
// of silence the live view stops with "Device is dead" and the controls come
// back. Takes a little over a minute, inside the virtual LAN.
#include "MessageBoxWatcher.h"
#include "SettingsDialog.h"
#include "SimDevice.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

const QString kDeviceNamespace = QStringLiteral("dev2");
const QString kDeviceIp = QStringLiteral("10.77.0.12");
// The silence is noticed 61 to 67 seconds after Connect.
constexpr int kDeadTimeoutMs = 90000;

} // namespace

class LiveViewDeadDeviceTest final : public QObject {
    Q_OBJECT
private slots:
    void SilentDeviceEndsAsDead();
};

void LiveViewDeadDeviceTest::SilentDeviceEndsAsDead()
{
    if (!SimDevice::Available()) {
        QSKIP("needs the virtual LAN and the simulator (run through ctest)");
    }
    SimDevice device(kDeviceNamespace, {QStringLiteral("--rtsp-never-answer-describe")},
                     QStringLiteral("http,rtsp"));
    QVERIFY2(device.IsReady(), qPrintable(device.Output()));
    MessageBoxWatcher boxes;
    DeviceNetworkParams params;
    QVERIFY(StringToIpType(kDeviceIp.toStdString(), params.ip));
    SettingsDialog dialog(params, nullptr);
    dialog.show();
    auto* connect1 = dialog.findChild<QPushButton*>(QStringLiteral("pushButtonConnect1"));
    auto* disconnect2 = dialog.findChild<QPushButton*>(QStringLiteral("pushButtonDisconnect2"));
    QVERIFY(QTest::qWaitFor([connect1] { return connect1->isEnabled(); }, 5000));

    QElapsedTimer waited;
    waited.start();
    QTest::mouseClick(connect1, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&boxes] { return !boxes.Texts().isEmpty(); }, kDeadTimeoutMs));
    qInfo("silence noticed after %.1f s", static_cast<double>(waited.elapsed()) / 1000.0);
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("RtspDevice stopped: Device is dead")});
    QVERIFY(connect1->isEnabled());
    QVERIFY(!disconnect2->isEnabled());
}

QTEST_MAIN(LiveViewDeadDeviceTest)
#include "LiveViewDeadDeviceTest.moc"
