// The analytics pages in the real settings dialog, end to end inside the
// virtual LAN: a simulated device's zones and camera position load into the
// pages when their tabs are first shown, the mouse draws and reshapes zones
// over the video view, and every apply lands in the device's configuration.
// Widgets are reached by their object names.

#include "DeviceNetworkParams.h"
#include "HttpClientDialog.h"
#include "HttpClientModule.h"
#include "MessageBoxWatcher.h"
#include "SettingsDialog.h"
#include "SimDevice.h"
#include "VCA.pb.h"
#include "VcaConfigReader.h"
#include "ViewMouse.h"
#include "TestHelpers.h"

#include <QApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace {

// A device namespace of the LAN; the tests of the LAN run one at a time.
const QString kDeviceNamespace = QStringLiteral("dev2");
const char kDeviceIp[] = "10.77.0.12";
constexpr int kLoadTimeoutMs = 8000;
constexpr int kVideoTimeoutMs = 15000;

// qel-device-sim in the device namespace, as the device the pages talk to.
std::unique_ptr<SimDevice> StartDevice(const QStringList& extra = {})
{
    return std::make_unique<SimDevice>(
        kDeviceNamespace, QStringList{QStringLiteral("--mac"), QStringLiteral("02:51:45:4C:99:02")} + extra);
}

DeviceNetworkParams Device()
{
    DeviceNetworkParams params{};
    params.productName = "QEL VCA-100";
    params.deviceName = "Pages";
    StringToIpType(kDeviceIp, params.ip);
    StringToIpType("255.255.255.0", params.mask);
    StringToIpType("10.77.0.1", params.gateway);
    params.connectionType = STATIC;
    return params;
}

// The device's configuration as getconfig.fcgi answers it now.
QByteArray DeviceConfig()
{
    HttpClientModule module(nullptr);
    QSignalSpy done(&module, &HttpClientModule::Done);
    module.Start(std::string("http://") + kDeviceIp + "/qel-cgi/admin/getconfig.fcgi");
    return done.wait(kLoadTimeoutMs) ? done.at(0).at(0).toByteArray() : QByteArray();
}

ZonesMap DeviceZones()
{
    ZonesMap zones;
    QString error;
    VcaConfigReader(DeviceConfig()).ReadZones(zones, error);
    return zones;
}

void ShowTab(SettingsDialog& dialog, const char* tabName)
{
    Child<QTabWidget>(&dialog, "tabWidget")->setCurrentWidget(Child<QWidget>(&dialog, tabName));
}

// Shows the dialog and brings a tab to the front, as the user opens it.
bool ShowOnTab(SettingsDialog& dialog, const char* tabName)
{
    dialog.show();
    const bool exposed = QTest::qWaitForWindowExposed(&dialog);
    ShowTab(dialog, tabName);
    return exposed;
}

// Whether the dialog's live view got going within the time; false where the
// tool has no live view.
bool ConnectVideo(SettingsDialog& dialog, const char* connectButton)
{
    auto* disconnect = Child<QPushButton>(&dialog, "pushButtonDisconnect2");
    Child<QPushButton>(&dialog, connectButton)->click();
    return QTest::qWaitFor([disconnect] { return disconnect->isEnabled(); }, kVideoTimeoutMs);
}

// The colour of the view's top-left corner, where no shape is drawn.
QColor Corner(QWidget* view)
{
    return view->grab().toImage().pixelColor(2, 2);
}

// Whether a decoded picture shows in the view within the time: its corner
// no longer shows the background it had before the video was connected.
bool WaitForPicture(QWidget* view, const QColor& background)
{
    return QTest::qWaitFor([view, background] { return Corner(view) != background; }, kVideoTimeoutMs);
}

void SaveScreenshot(QWidget* widget, const QString& name)
{
    QDir().mkpath(QStringLiteral(QEL_SCREENSHOT_DIR));
    const QString path = QStringLiteral(QEL_SCREENSHOT_DIR "/") + name;
    QVERIFY(widget->grab().save(path));
    qInfo("screenshot: %s", qPrintable(path));
}

QString LastStatus(const QSignalSpy& spy)
{
    return spy.isEmpty() ? QString() : spy.last().at(0).toString();
}

// The device's zone as the simulator starts with it.
const ZonesMap kDeviceStartZones{{1, {{6553, 6553}, {58982, 6553}, {58982, 58982}, {6553, 58982}}}};

// Presses Cancel on the HTTP client's progress dialog once it shows, and
// keeps the text the dialog showed then.
void CancelProgressWhenShown(QObject* context, QString* progressText)
{
    auto* poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, context, [poll, progressText] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<QProgressDialog*>(widget);
            if (progress != nullptr && progress->isVisible()) {
                *progressText = progress->labelText();
                QPushButton* cancel = progress->findChild<QPushButton*>();
                if (cancel != nullptr) {
                    cancel->click();
                } else {
                    progress->reject();
                }
                poll->deleteLater();
                return;
            }
        }
    });
    poll->start(100);
}

} // namespace

class PagesLanTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void zonesLoadDrawApplyAndReadBack();
    void zonesWaitForTheirLoadBehindAHungRequest();
    void cancelledApplySendsNothingMore();
    void gridLoadsTheDeviceCameraPosition();
    void classifierShowsAndKeepsTheDeviceValues();
    void failingCommandsEndEachApplyInOneErrorBox();
};

void PagesLanTest::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("QEL_SIM") || qEnvironmentVariableIsEmpty("QEL_SOURCE_DIR")) {
        QSKIP("needs the virtual LAN (run through ctest)");
    }
}

void PagesLanTest::zonesLoadDrawApplyAndReadBack()
{
    const auto sim = StartDevice();
    QVERIFY(sim->IsReady());
    MessageBoxWatcher boxes;
    SettingsDialog dialog(Device(), nullptr);
    QSignalSpy status(&dialog, &SettingsDialog::StatusChanged);
    QVERIFY(ShowOnTab(dialog, "tabZones"));
    // Nothing can be applied before the device's zones are in.
    QVERIFY(!Child<QPushButton>(&dialog, "pushButtonApplyZones")->isEnabled());

    // The device's one zone, a rectangle 10 % in from each edge.
    auto* table = Child<QTableWidget>(&dialog, "tableWidgetZones");
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, kLoadTimeoutMs);
    QVERIFY(Child<QPushButton>(&dialog, "pushButtonApplyZones")->isEnabled());
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("6553,6553:58982,6553:58982,58982:6553,58982:"));
    auto* view = Child<QWidget>(&dialog, "videoWidget1");
    QCOMPARE(view->grab().toImage().pixelColor(360, 57), QColor(Qt::black)); // its top edge

    const QColor background = Corner(view);
    const bool live = ConnectVideo(dialog, "pushButtonConnect1") && WaitForPicture(view, background);

    // A new zone drawn with the mouse, and a corner of the loaded one dragged.
    Child<QPushButton>(&dialog, "pushButtonAddZone")->click();
    viewmouse::Click(view, {100, 300});
    viewmouse::Click(view, {300, 300});
    viewmouse::Click(view, {200, 500});
    // While under creation the zone shows in the tool's white; once complete
    // it is drawn with the default black pen like every zone.
    viewmouse::MoveTo(view, {110, 310});
    SaveScreenshot(&dialog, live ? QStringLiteral("zones-tab-zone-being-drawn-live.png")
                                 : QStringLiteral("zones-tab-zone-being-drawn-lan-no-video.png"));
    viewmouse::Click(view, {100, 300});
    viewmouse::Drag(view, {648, 518}, {600, 450});
    QCOMPARE(table->rowCount(), 2);
    SaveScreenshot(&dialog, live ? QStringLiteral("zones-tab-drawn-zone-live.png")
                                 : QStringLiteral("zones-tab-drawn-zone-lan-no-video.png"));

    Child<QPushButton>(&dialog, "pushButtonApplyZones")->click();
    QCOMPARE(LastStatus(status), QStringLiteral("Zones were applied"));
    const ZonesMap expected{{1, {{6553, 6553}, {58982, 6553}, {54612, 51199}, {6553, 58982}}},
                            {2, {{9102, 34132}, {27306, 34132}, {18204, 56888}}}};
    QVERIFY(DeviceZones() == expected);

    // The loaded zone removed: the device keeps the drawn one only.
    table->selectRow(0);
    Child<QPushButton>(&dialog, "pushButtonRemoveZone")->click();
    Child<QPushButton>(&dialog, "pushButtonApplyZones")->click();
    const ZonesMap remaining{{2, expected.at(2)}};
    QVERIFY(DeviceZones() == remaining);
    QVERIFY(boxes.Texts().isEmpty());
}

void PagesLanTest::zonesWaitForTheirLoadBehindAHungRequest()
{
    // The source load never gets an answer; the zones load queued behind it
    // still comes, and until then Apply Zones cannot wipe the device. An
    // apply that never gets an answer ends too.
    const auto sim = StartDevice({QStringLiteral("--http-hang"), QStringLiteral("getcam.fcgi"),
                                  QStringLiteral("--http-hang"), QStringLiteral("vca.cgi")});
    QVERIFY(sim->IsReady());
    MessageBoxWatcher boxes;
    SettingsDialog dialog(Device(), nullptr);
    QVERIFY(ShowOnTab(dialog, "tabZones"));
    auto* apply = Child<QPushButton>(&dialog, "pushButtonApplyZones");
    auto* table = Child<QTableWidget>(&dialog, "tableWidgetZones");
    QTest::qWait(1000);
    apply->click();
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(!apply->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, 20000);
    QVERIFY(apply->isEnabled());
    QVERIFY(DeviceZones() == kDeviceStartZones);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, kLoadTimeoutMs);
    QVERIFY2(boxes.Texts().at(0).startsWith(
                 QStringLiteral("Loading the video source settings failed: HTTP request failed: ")) &&
                 boxes.Texts().at(0).contains(QStringLiteral("timed out")),
             qPrintable(boxes.Texts().at(0)));
    QVERIFY(!Child<QLineEdit>(&dialog, "lineEditSourceHost")->isEnabled());

    boxes.Clear();
    table->selectRow(0);
    Child<QPushButton>(&dialog, "pushButtonRemoveZone")->click();
    apply->click();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, kLoadTimeoutMs);
    QVERIFY2(boxes.Texts().at(0).contains(QStringLiteral("timed out")), qPrintable(boxes.Texts().at(0)));
}

void PagesLanTest::cancelledApplySendsNothingMore()
{
    // The removal of every zone takes a while on the device; the user
    // cancels it and confirms. The zone it would have added back must not be
    // sent, and the one question is all that shows.
    const auto sim = StartDevice({QStringLiteral("--http-slow-writes-ms"), QStringLiteral("1500")});
    QVERIFY(sim->IsReady());
    MessageBoxWatcher boxes;
    boxes.SetAnswer(QMessageBox::Yes);
    SettingsDialog dialog(Device(), nullptr);
    QSignalSpy status(&dialog, &SettingsDialog::StatusChanged);
    QVERIFY(ShowOnTab(dialog, "tabZones"));
    QTRY_VERIFY_WITH_TIMEOUT(Child<QPushButton>(&dialog, "pushButtonApplyZones")->isEnabled(),
                             kLoadTimeoutMs);
    boxes.Clear();

    QString progressText;
    CancelProgressWhenShown(&dialog, &progressText);
    Child<QPushButton>(&dialog, "pushButtonApplyZones")->click();
    const QString cancelled =
        QStringLiteral("Applying zones was cancelled; the device may hold part of the change");
    QTRY_COMPARE_WITH_TIMEOUT(LastStatus(status), cancelled, kLoadTimeoutMs);
    QCOMPARE(progressText, QStringLiteral("Applying zones to Pages (1 of 2)\u2026"));
    const QStringList question{QStringLiteral(
        "Applying zones to Pages is not finished. Stop it? The device may hold part of the change.")};
    QCOMPARE(boxes.Texts(), question);
    // The removal already under way ends on the device; nothing follows it.
    QTest::qWait(3000);
    QVERIFY(DeviceZones().empty());
    QCOMPARE(boxes.Texts(), question);
}

void PagesLanTest::gridLoadsTheDeviceCameraPosition()
{
    const auto sim = StartDevice();
    QVERIFY(sim->IsReady());
    {
        HttpClientDialog http(kDeviceIp, -1, "root", "kqzt");
        QVERIFY(http.request(
            "/qel-cgi/admin/vca.cgi?action=update&group=VCA.Ch0&object=campos&FOV=18&camangle=10&height=3"));
    }
    MessageBoxWatcher boxes;
    SettingsDialog dialog(Device(), nullptr);
    QSignalSpy status(&dialog, &SettingsDialog::StatusChanged);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ShowTab(dialog, "tabGrid");

    auto* fov = Child<QSpinBox>(&dialog, "spinBoxFieldOfView");
    QTRY_COMPARE_WITH_TIMEOUT(fov->value(), 18, kLoadTimeoutMs);
    QCOMPARE(Child<QSpinBox>(&dialog, "spinBoxCameraAngle")->value(), 10);
    QCOMPARE(Child<QDoubleSpinBox>(&dialog, "doubleSpinBoxCameraHeight")->value(), 3.0);
    QCOMPARE(Child<QSlider>(&dialog, "horizontalSliderCameraHeight")->value(), 30);

    // Without video nothing of the camera position, the mimics or Apply is usable.
    for (const char* name : {"spinBoxFieldOfView", "horizontalSliderCameraAngle", "doubleSpinBoxCameraHeight",
                             "doubleSpinBoxMimic1", "pushButtonAddMimic2", "pushButtonApplyGrid"}) {
        QVERIFY2(!Child<QWidget>(&dialog, name)->isEnabled(), name);
    }
    QVERIFY(Child<QPushButton>(&dialog, "pushButtonAddLine1")->isEnabled());
    QVERIFY(boxes.Texts().isEmpty());

    // A ruler removed while it is still being drawn is gone for good: moving
    // on changes neither the view nor its row's label, and the row draws anew.
    auto* gridView = Child<QWidget>(&dialog, "videoWidget2");
    auto* rulerSize = Child<QLabel>(&dialog, "lbRulerSize1");
    Child<QPushButton>(&dialog, "pushButtonAddLine1")->click();
    const QImage before = gridView->grab().toImage();
    viewmouse::Click(gridView, {360, 288});
    Child<QPushButton>(&dialog, "pushButtonRemoveLine1")->click();
    viewmouse::MoveTo(gridView, {360, 500});
    QCOMPARE(rulerSize->text(), QStringLiteral("0.00 \u043C."));
    QVERIFY(gridView->grab().toImage() == before);
    viewmouse::Click(gridView, {360, 288});
    viewmouse::Click(gridView, {360, 576});
    QVERIFY(rulerSize->text() != QStringLiteral("0.00 \u043C."));
    Child<QPushButton>(&dialog, "pushButtonRemoveLine1")->click();
    QCOMPARE(rulerSize->text(), QStringLiteral("0.00 \u043C."));
    QVERIFY(gridView->grab().toImage() == before);

    const QColor background = Corner(Child<QWidget>(&dialog, "videoWidget2"));
    if (!ConnectVideo(dialog, "pushButtonConnect2")) {
        SaveScreenshot(&dialog, QStringLiteral("grid-tab-lan-no-video.png"));
        QSKIP("no live view in this build: the enabling with video and the apply are not exercised");
    }
    for (const char* name : {"spinBoxFieldOfView", "horizontalSliderCameraAngle", "doubleSpinBoxCameraHeight",
                             "doubleSpinBoxMimic1", "pushButtonAddMimic2", "pushButtonApplyGrid"}) {
        // Usable once no request of the dialog is out.
        QTRY_VERIFY2_WITH_TIMEOUT(Child<QWidget>(&dialog, name)->isEnabled(), name, kLoadTimeoutMs);
    }
    // Back to the start values, a mimic and a ruler, then Apply.
    fov->setValue(36);
    Child<QSpinBox>(&dialog, "spinBoxCameraAngle")->setValue(13);
    auto* view = Child<QWidget>(&dialog, "videoWidget2");
    Child<QPushButton>(&dialog, "pushButtonAddMimic1")->click();
    viewmouse::Click(view, {200, 400});
    Child<QPushButton>(&dialog, "pushButtonAddLine1")->click();
    viewmouse::Click(view, {360, 288});
    viewmouse::Click(view, {360, 576});
    QCOMPARE(Child<QLabel>(&dialog, "lbRulerSize1")->text(), QStringLiteral("8.00 \u043C."));
    QVERIFY(WaitForPicture(view, background));
    SaveScreenshot(&dialog, QStringLiteral("grid-tab-grid-mimic-ruler-live.png"));
    Child<QPushButton>(&dialog, "pushButtonApplyGrid")->click();
    QCOMPARE(LastStatus(status), QStringLiteral("Camera position was applied"));
    CamposValues campos;
    QString error;
    QVERIFY(VcaConfigReader(DeviceConfig()).ReadCampos(campos, error));
    QCOMPARE(campos.fov, 36.0);
    QCOMPARE(campos.camangle, 13.0);
    QCOMPARE(campos.heightMetres, 3.0);
}

void PagesLanTest::classifierShowsAndKeepsTheDeviceValues()
{
    // The device's classifier differs from the form's start values (timeout
    // 60 s, one class of 0.2 to 1.5 m2 and 1 to 2.2 m).
    const auto sim = StartDevice();
    QVERIFY(sim->IsReady());
    MessageBoxWatcher boxes;
    SettingsDialog dialog(Device(), nullptr);
    QSignalSpy status(&dialog, &SettingsDialog::StatusChanged);
    ShowTab(dialog, "tabClassifier");
    auto* apply = Child<QPushButton>(&dialog, "bApplyClassifierAndTimeout");
    QVERIFY(!apply->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kLoadTimeoutMs);
    QCOMPARE(Child<QLineEdit>(&dialog, "tTimeout")->text(), QStringLiteral("60"));
    QCOMPARE(Child<QLineEdit>(&dialog, "tObject1MinArea")->text(), QStringLiteral("0.2"));
    QCOMPARE(Child<QLineEdit>(&dialog, "tObject1MaxHeight")->text(), QStringLiteral("2.2"));

    // Apply without a change leaves the device as it was.
    const QByteArray before = DeviceConfig();
    apply->click();
    QCOMPARE(LastStatus(status), QStringLiteral("Classifier settings were applied"));
    QCOMPARE(DeviceConfig(), before);
    QVERIFY(boxes.Texts().isEmpty());
}

void PagesLanTest::failingCommandsEndEachApplyInOneErrorBox()
{
    const auto sim = StartDevice({QStringLiteral("--http-fail"), QStringLiteral("vca.cgi"),
                                  QStringLiteral("--http-fail"), QStringLiteral("setzonetimeout.fcgi")});
    QVERIFY(sim->IsReady());
    MessageBoxWatcher boxes;
    SettingsDialog dialog(Device(), nullptr);
    QVERIFY(ShowOnTab(dialog, "tabZones"));
    ShowTab(dialog, "tabClassifier");
    for (const char* apply : {"pushButtonApplyZones", "bApplyClassifierAndTimeout"}) {
        QTRY_VERIFY_WITH_TIMEOUT(Child<QPushButton>(&dialog, apply)->isEnabled(), kLoadTimeoutMs);
    }
    QVERIFY(boxes.Texts().isEmpty());

    for (const char* apply : {"pushButtonApplyZones", "bApplyClassifierAndTimeout"}) {
        Child<QPushButton>(&dialog, apply)->click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, kLoadTimeoutMs);
        QTest::qWait(200);
        QCOMPARE(boxes.Texts().size(), 1);
        QCOMPARE(boxes.Titles().at(0), QStringLiteral("Error"));
        QVERIFY2(boxes.Texts().at(0).startsWith(QStringLiteral("HTTP request failed")),
                 qPrintable(boxes.Texts().at(0)));
        boxes.Clear();
    }
}

QTEST_MAIN(PagesLanTest)
#include "PagesLanTest.moc"
