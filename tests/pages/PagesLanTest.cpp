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
#include "ZonesTab.h"

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
#include <QTemporaryFile>
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

QStringList AllStatuses(const QSignalSpy& spy)
{
    QStringList texts;
    for (const QList<QVariant>& signal : spy) {
        texts << signal.at(0).toString();
    }
    return texts;
}

// Changes the device as another client would, through its write commands.
bool Write(const QString& path)
{
    HttpClientDialog http(kDeviceIp, -1, "root", "kqzt");
    return http.request((QStringLiteral("/qel-cgi/admin/") + path).toStdString());
}

CamposValues DeviceCampos()
{
    CamposValues campos;
    QString error;
    VcaConfigReader(DeviceConfig()).ReadCampos(campos, error);
    return campos;
}

ClassifierValues DeviceClassifier()
{
    ClassifierValues classifier;
    QString error;
    VcaConfigReader(DeviceConfig()).ReadClassifier(classifier, error);
    return classifier;
}

// The device's zone as the simulator starts with it.
const ZonesMap kDeviceStartZones{{1, {{6553, 6553}, {58982, 6553}, {58982, 58982}, {6553, 58982}}}};

// Presses Cancel on the HTTP client's progress window once it shows `step`.
void CancelProgressAt(QObject* context, const QString& step)
{
    auto* poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, context, [poll, step] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<QProgressDialog*>(widget);
            if (progress != nullptr && progress->isVisible() && progress->labelText() == step) {
                poll->deleteLater();
                progress->findChild<QPushButton*>()->click();
                return;
            }
        }
    });
    poll->start(20);
}

// Answers every message box that shows while it lives: a question with the
// button given, any other box with OK; keeps each box's text.
class BoxAnswers final : public QObject {
public:
    BoxAnswers()
    {
        connect(&poll_, &QTimer::timeout, this, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box == nullptr || !box->isVisible()) {
                    continue;
                }
                texts << box->text();
                allPlainText = allPlainText && box->textFormat() == Qt::PlainText;
                QAbstractButton* button = box->button(answer);
                (button != nullptr ? button : box->button(QMessageBox::Ok))->click();
            }
        });
        poll_.start(20);
    }

    QMessageBox::StandardButton answer = QMessageBox::No;
    QStringList texts;
    bool allPlainText = true;

private:
    QTimer poll_;
};

// A configuration file for the simulator: three zones with what installers
// give them, a disabled one, one whose name needs escaping in a URL, one with
// a type and colour that adding a zone cannot set.
const char kSeededConfig[] = R"(Ch {
  zones { id: 3 points { x: 6553 y: 6553 } points { x: 20000 y: 6553 } points { x: 20000 y: 20000 }
          enable: false name: "Door" style: POLYGON }
  zones { id: 5 points { x: 30000 y: 6553 } points { x: 45000 y: 6553 } points { x: 45000 y: 20000 }
          enable: true name: "Gate & Yard=#1 100% \303\251" style: POLYGON }
  zones { id: 7 points { x: 50000 y: 30000 } points { x: 60000 y: 30000 } points { x: 60000 y: 40000 }
          enable: true name: "Lobby" color { r: 255 g: 0 b: 0 } type: PREALARM style: POLYGON }
  campos { FOV: 60 camangle: 30 height: 4.5 }
  encoder { fps: 25 bitrate: 2500000 }
  mog { history: 2000 }
}
videoSource { model: "axis" host: "192.168.0.90" login: "admin" password: "admin" }
)";

// Three zones as an installer left them.
const char kThreeZones[] = R"(Ch {
  zones { id: 1 points { x: 6553 y: 6553 } points { x: 20000 y: 6553 } points { x: 20000 y: 20000 }
          enable: true name: "Yard" style: POLYGON }
  zones { id: 2 points { x: 30000 y: 6553 } points { x: 45000 y: 6553 } points { x: 45000 y: 20000 }
          enable: false name: "Door" style: POLYGON }
  zones { id: 3 points { x: 50000 y: 30000 } points { x: 60000 y: 30000 } points { x: 60000 y: 40000 }
          enable: true name: "Gate" style: POLYGON }
  campos { FOV: 60 camangle: 30 height: 4.5 }
  encoder { fps: 25 bitrate: 2500000 }
  mog { history: 2000 }
}
videoSource { model: "axis" host: "192.168.0.90" login: "admin" password: "admin" }
)";

ZoneSettingsMap DeviceZoneSettings()
{
    ZoneSettingsMap zones;
    QString error;
    VcaConfigReader(DeviceConfig()).ReadZoneSettings(zones, error);
    return zones;
}

} // namespace

class PagesLanTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void zonesLoadDrawApplyAndReadBack();
    void zonesWaitForTheirLoadBehindAHungRequest();
    void stoppedApplyPutsBackWhatWasThere();
    void failedWritesEndWhole();
    void lateWriteIsReadNotGuessed();
    void gridLoadsTheDeviceCameraPosition();
    void classifierShowsAndKeepsTheDeviceValues();
    void classifierAndGridApplyNeedAWholeLoad();
    void classifierSendsOnlyChangesAndKeepsWhatItCannotShow();
    void gridSendsOnlyAChangedLoadedPosition();
    void failingCommandsEndEachApplyInOneErrorBox();
    void zonesGoBackWithWhatTheyHold();
    void configurationReadInPartIsShownButNeverWrittenBack();
    void newerFirmwareConfigurationLoadsWhole();
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
    QCOMPARE(table->item(0, kZoneColumnPoints)->text(),
             QStringLiteral("6553,6553:58982,6553:58982,58982:6553,58982:"));
    auto* view = Child<QWidget>(&dialog, "videoWidget1");
    QCOMPARE(view->grab().toImage().pixelColor(360, 57), ZoneColour(1)); // its top edge

    const QColor background = Corner(view);
    const bool live = ConnectVideo(dialog, "pushButtonConnect1") && WaitForPicture(view, background);

    // A new zone drawn with the mouse, and a corner of the loaded one dragged.
    Child<QPushButton>(&dialog, "pushButtonAddZone")->click();
    viewmouse::Click(view, {100, 300});
    viewmouse::Click(view, {300, 300});
    viewmouse::Click(view, {200, 500});
    // While under creation the zone shows in the tool's white; once complete
    // it is drawn in its own colour like every zone.
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

void PagesLanTest::stoppedApplyPutsBackWhatWasThere()
{
    // Each write takes a while on the device. The user stops the apply
    // during the removal, then during the adds: the request at work ends,
    // and what it changed is put back and read back.
    const auto sim = StartDevice({QStringLiteral("--http-slow-writes-ms"), QStringLiteral("800")});
    QVERIFY(sim->IsReady());
    MessageBoxWatcher boxes;
    boxes.SetAnswer(QMessageBox::Yes);
    SettingsDialog dialog(Device(), nullptr);
    QSignalSpy status(&dialog, &SettingsDialog::StatusChanged);
    QVERIFY(ShowOnTab(dialog, "tabZones"));
    auto* apply = Child<QPushButton>(&dialog, "pushButtonApplyZones");
    QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kLoadTimeoutMs);
    auto* view = Child<QWidget>(&dialog, "videoWidget1");
    viewmouse::Drag(view, {648, 518}, {600, 450});
    Child<QPushButton>(&dialog, "pushButtonAddZone")->click();
    viewmouse::DrawPolygon(view, {{100, 300}, {300, 300}, {200, 500}});
    const QString stopped = QStringLiteral(
        "Applying zones was stopped: the device's zones were put back as they were (checked). The page shows "
        "the zones the device holds; the changes that were not applied are dropped.");
    for (const QString& step : {QStringLiteral("Applying zones to Pages (1 of 3)\u2026"),
                                QStringLiteral("Applying zones to Pages (2 of 3)\u2026")}) {
        boxes.Clear();
        CancelProgressAt(&dialog, step);
        apply->click();
        QCOMPARE(LastStatus(status), stopped);
        QCOMPARE(boxes.Texts(),
                 QStringList{QStringLiteral("Applying zones to Pages is not finished. Stop it? "
                                            "What was already changed on the device is put back.")});
        QVERIFY(DeviceZones() == kDeviceStartZones);
        // The page shows the device's zone again, and nothing to apply.
        QCOMPARE(Child<QTableWidget>(&dialog, "tableWidgetZones")->rowCount(), 1);
        viewmouse::Drag(view, {648, 518}, {600, 450});
        Child<QPushButton>(&dialog, "pushButtonAddZone")->click();
        viewmouse::DrawPolygon(view, {{100, 300}, {300, 300}, {200, 500}});
    }
}

void PagesLanTest::failedWritesEndWhole()
{
    // The device refuses its second write (the first zone added after the
    // removal) once. The zones it held go back with their ids, names and
    // enable states, and the page shows them.
    QTemporaryFile config;
    QVERIFY(config.open());
    config.write(kThreeZones);
    config.close();
    const auto sim = StartDevice({QStringLiteral("--http-config-file"), config.fileName(),
                                  QStringLiteral("--http-fail-nth-write"), QStringLiteral("2")});
    QVERIFY(sim->IsReady());
    const QByteArray seeded = DeviceConfig();
    BoxAnswers boxes;
    SettingsDialog dialog(Device(), nullptr);
    QVERIFY(ShowOnTab(dialog, "tabZones"));
    auto* apply = Child<QPushButton>(&dialog, "pushButtonApplyZones");
    auto* table = Child<QTableWidget>(&dialog, "tableWidgetZones");
    QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kLoadTimeoutMs);
    table->selectRow(0);
    Child<QPushButton>(&dialog, "pushButtonRemoveZone")->click();
    apply->click();
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(
        boxes.texts.at(0).startsWith(QStringLiteral(
            "Applying zones failed at zone 2 'Door': the device's zones were put back as they were "
            "(checked). The page shows the zones the device holds; the changes that were not applied are "
            "dropped. Cause: HTTP request failed: ")),
        qPrintable(boxes.texts.at(0)));
    QCOMPARE(DeviceConfig(), seeded);
    QCOMPARE(table->rowCount(), 3);

    // Another client adds a zone after the load: nothing is written over it,
    // and the user is asked whether to load the zones again.
    QVERIFY(Write(QStringLiteral("vca.cgi?action=add&group=VCA.Ch0&object=zone&id=9&enable=yes&name=Other&"
                                 "points=1:1,900:1,900:900,")));
    const QByteArray changed = DeviceConfig();
    table->selectRow(0);
    Child<QPushButton>(&dialog, "pushButtonRemoveZone")->click();
    boxes.texts.clear();
    apply->click();
    const QString question = QStringLiteral(
        "The device's zones changed since they were loaded (zone 9 'Other' added). Load them again?");
    QCOMPARE(boxes.texts, QStringList{question});
    QCOMPARE(DeviceConfig(), changed);
    QCOMPARE(table->rowCount(), 2);
    // "Reload from device" drops the unapplied change once the user says so.
    boxes.answer = QMessageBox::Yes;
    Child<QPushButton>(&dialog, "pushButtonReloadZones")->click();
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 4, kLoadTimeoutMs);
    QCOMPARE(boxes.texts.last(),
             QStringLiteral("Drop the zone changes not yet applied and show the zones the device holds?"));
    QCOMPARE(DeviceConfig(), changed);
}

void PagesLanTest::lateWriteIsReadNotGuessed()
{
    // The device answers the removal only after the client gave up, and
    // carries it out all the same: the page reads what the device holds and
    // puts the zone back. Takes the client's 15 s silence limit.
    const auto sim = StartDevice({QStringLiteral("--http-write-after-timeout"), QStringLiteral("1")});
    QVERIFY(sim->IsReady());
    BoxAnswers boxes;
    SettingsDialog dialog(Device(), nullptr);
    QVERIFY(ShowOnTab(dialog, "tabZones"));
    auto* apply = Child<QPushButton>(&dialog, "pushButtonApplyZones");
    QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kLoadTimeoutMs);
    viewmouse::Drag(Child<QWidget>(&dialog, "videoWidget1"), {648, 518}, {600, 450});
    apply->click();
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(boxes.texts.at(0).startsWith(QStringLiteral("Applying zones failed at the removal of the zones: "
                                                         "the device's zones were put back as they were "
                                                         "(checked).")),
             qPrintable(boxes.texts.at(0)));
    QVERIFY(DeviceZones() == kDeviceStartZones);
}

void PagesLanTest::gridLoadsTheDeviceCameraPosition()
{
    const auto sim = StartDevice();
    QVERIFY(sim->IsReady());
    QVERIFY(Write(
        QStringLiteral("vca.cgi?action=update&group=VCA.Ch0&object=campos&FOV=18&camangle=10&height=3")));
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
    QCOMPARE(LastStatus(status),
             QStringLiteral("Nothing to apply: the classifier settings were not changed."));
    QCOMPARE(DeviceConfig(), before);
    QVERIFY(boxes.Texts().isEmpty());
}

void PagesLanTest::classifierAndGridApplyNeedAWholeLoad()
{
    // A configuration text that breaks off inside the first zone: what was
    // read shows, but neither page may write it back.
    {
        const auto sim = StartDevice({QStringLiteral("--http-config-fault"), QStringLiteral("malformed")});
        QVERIFY(sim->IsReady());
        MessageBoxWatcher boxes;
        SettingsDialog dialog(Device(), nullptr);
        QVERIFY(ShowOnTab(dialog, "tabGrid"));
        ShowTab(dialog, "tabClassifier");
        auto* fov = Child<QSpinBox>(&dialog, "spinBoxFieldOfView");
        QTRY_COMPARE_WITH_TIMEOUT(fov->value(), 18, kLoadTimeoutMs); // the schema's default: no campos read
        auto* applyClassifier = Child<QPushButton>(&dialog, "bApplyClassifierAndTimeout");
        QTRY_COMPARE_WITH_TIMEOUT(Child<QLineEdit>(&dialog, "tTimeout")->text(), QStringLiteral("60"),
                                  kLoadTimeoutMs);
        const QString partly =
            QStringLiteral("Not available: the device's configuration was read only in part");
        QVERIFY(!applyClassifier->isEnabled());
        QCOMPARE(applyClassifier->toolTip(), partly);
        if (!ConnectVideo(dialog, "pushButtonConnect2")) {
            QSKIP("no live view in this build: the Grid page's Apply is never enabled without it");
        }
        auto* applyGrid = Child<QPushButton>(&dialog, "pushButtonApplyGrid");
        QVERIFY(fov->isEnabled());
        QVERIFY(!applyGrid->isEnabled());
        QCOMPARE(applyGrid->toolTip(), partly);
    }
    // No configuration at all: with the video connected the camera position
    // cannot be changed or written.
    const auto sim = StartDevice({QStringLiteral("--http-fail"), QStringLiteral("getconfig.fcgi")});
    QVERIFY(sim->IsReady());
    MessageBoxWatcher boxes;
    SettingsDialog dialog(Device(), nullptr);
    QVERIFY(ShowOnTab(dialog, "tabGrid"));
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, kLoadTimeoutMs);
    QVERIFY(ConnectVideo(dialog, "pushButtonConnect2"));
    auto* applyGrid = Child<QPushButton>(&dialog, "pushButtonApplyGrid");
    QVERIFY(!applyGrid->isEnabled());
    QCOMPARE(applyGrid->toolTip(),
             QStringLiteral("Not available: the device's camera position was not loaded"));
    QVERIFY(!Child<QWidget>(&dialog, "spinBoxFieldOfView")->isEnabled());
    QVERIFY(Child<QWidget>(&dialog, "pushButtonAddMimic1")->isEnabled());
}

void PagesLanTest::classifierSendsOnlyChangesAndKeepsWhatItCannotShow()
{
    // Timeout 45 and six classes: the second fails the page's check (its
    // maximum area is below its minimum), the sixth has no row left.
    const auto sim = StartDevice();
    QVERIFY(sim->IsReady());
    const std::vector<ObjectClassValues> device{{0.123456789, 1.5, 1, 2.2},
                                                {0.5, 0.4, 1, 2},
                                                {1, 2, 1, 2},
                                                {2, 3, 1, 2},
                                                {3, 4, 1, 2},
                                                {4, 5, 1, 1e21}};
    // The numbers in full ('+' would read as a space).
    QVERIFY(Write(QStringLiteral("setzonetimeout.fcgi?timeout=45")));
    QVERIFY(Write(QStringLiteral("vca.cgi?action=remove&group=VCA.Ch0.Obj*")));
    for (const ObjectClassValues& c : device) {
        QVERIFY(
            Write(QStringLiteral("vca.cgi?action=add&group=VCA.Ch0&object=objectclass&minArea=%1&maxArea=%2"
                                 "&minHeight=%3&maxHeight=%4")
                      .arg(QString::number(c.minArea, 'g', 17).remove(QLatin1Char('+')))
                      .arg(QString::number(c.maxArea, 'g', 17).remove(QLatin1Char('+')))
                      .arg(QString::number(c.minHeight, 'g', 17).remove(QLatin1Char('+')))
                      .arg(QString::number(c.maxHeight, 'g', 17).remove(QLatin1Char('+')))));
    }
    MessageBoxWatcher boxes;
    SettingsDialog dialog(Device(), nullptr);
    QSignalSpy status(&dialog, &SettingsDialog::StatusChanged);
    QVERIFY(ShowOnTab(dialog, "tabClassifier"));
    auto* apply = Child<QPushButton>(&dialog, "bApplyClassifierAndTimeout");
    QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kLoadTimeoutMs);
    QCOMPARE(Child<QLineEdit>(&dialog, "tTimeout")->text(), QStringLiteral("45"));
    QCOMPARE(Child<QLineEdit>(&dialog, "tObject1MinArea")->text(), QStringLiteral("0.123456789"));
    QCOMPARE(Child<QLineEdit>(&dialog, "tObject2MaxArea")->text(), QStringLiteral("2"));
    QCOMPARE(Child<QLineEdit>(&dialog, "tObject4MaxArea")->text(), QStringLiteral("4"));

    // Another client changes the timeout; an Apply with nothing changed
    // sends nothing, so the device keeps it.
    QVERIFY(Write(QStringLiteral("setzonetimeout.fcgi?timeout=50")));
    apply->click();
    QCOMPARE(LastStatus(status),
             QStringLiteral("Nothing to apply: the classifier settings were not changed."));
    QCOMPARE(DeviceClassifier().timeoutSeconds, 50u);

    // One shown class changed: nothing is written over the other client's
    // timeout; loaded again, the page shows it, and the change goes out.
    // Every other class goes back as the device held it, in its place, and
    // the typed number arrives as typed.
    Child<QLineEdit>(&dialog, "tObject2MaxArea")->setText(QStringLiteral("1234567"));
    boxes.SetAnswer(QMessageBox::Yes);
    apply->click();
    QCOMPARE(boxes.Texts(),
             QStringList{QStringLiteral("The device's classifier settings changed since they were "
                                        "loaded (zone timeout 50 s instead of 45 s). Load them "
                                        "again?")});
    boxes.Clear();
    QCOMPARE(Child<QLineEdit>(&dialog, "tTimeout")->text(), QStringLiteral("50"));
    QCOMPARE(Child<QLineEdit>(&dialog, "tObject2MaxArea")->text(), QStringLiteral("2"));
    Child<QLineEdit>(&dialog, "tObject2MaxArea")->setText(QStringLiteral("1234567"));
    apply->click();
    QCOMPARE(LastStatus(status), QStringLiteral("Classifier settings were applied"));
    std::vector<ObjectClassValues> expected = device;
    expected[2].maxArea = 1234567;
    const ClassifierValues after = DeviceClassifier();
    QCOMPARE(after.timeoutSeconds, 50u);
    QCOMPARE(after.classes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        QCOMPARE(after.classes[i].minArea, expected[i].minArea);
        QCOMPARE(after.classes[i].maxArea, expected[i].maxArea);
        QCOMPARE(after.classes[i].minHeight, expected[i].minHeight);
        QCOMPARE(after.classes[i].maxHeight, expected[i].maxHeight);
    }
    QVERIFY(boxes.Texts().isEmpty());
}

void PagesLanTest::gridSendsOnlyAChangedLoadedPosition()
{
    // A camera position the controls cannot hold whole: FOV 0 and tilt 95
    // out of range, a height with more decimals than the control shows.
    const auto sim = StartDevice();
    QVERIFY(sim->IsReady());
    QVERIFY(Write(QStringLiteral(
        "vca.cgi?action=update&group=VCA.Ch0&object=campos&FOV=0&camangle=95&height=3.14159")));
    MessageBoxWatcher boxes;
    SettingsDialog dialog(Device(), nullptr);
    QSignalSpy status(&dialog, &SettingsDialog::StatusChanged);
    QVERIFY(ShowOnTab(dialog, "tabGrid"));
    auto* fov = Child<QSpinBox>(&dialog, "spinBoxFieldOfView");
    QTRY_COMPARE_WITH_TIMEOUT(Child<QSpinBox>(&dialog, "spinBoxCameraAngle")->value(), 89, kLoadTimeoutMs);
    const QString outside =
        QStringLiteral("The device's field of view 0 is outside 1\u201389; Apply would write 1. "
                       "The device's tilt 95 is outside 1\u201389; Apply would write 89");
    QVERIFY2(AllStatuses(status).contains(outside), qPrintable(AllStatuses(status).join(QLatin1Char('\n'))));
    if (!ConnectVideo(dialog, "pushButtonConnect2")) {
        QSKIP("no live view in this build: the Grid page's Apply is never enabled without it");
    }
    auto* apply = Child<QPushButton>(&dialog, "pushButtonApplyGrid");
    QVERIFY(apply->isEnabled());

    // Another client changes the position; an Apply with nothing changed
    // sends nothing, so the device keeps it.
    QVERIFY(Write(QStringLiteral(
        "vca.cgi?action=update&group=VCA.Ch0&object=campos&FOV=50&camangle=95&height=3.14159")));
    apply->click();
    QCOMPARE(LastStatus(status), QStringLiteral("Nothing to apply: the camera position was not changed."));
    QCOMPARE(DeviceCampos().fov, 50.0);

    // FOV changed: the tilt goes out at its bound, as the status line said,
    // and the untouched height exactly as the device held it.
    fov->setValue(30);
    apply->click();
    QCOMPARE(LastStatus(status), QStringLiteral("Camera position was applied"));
    const CamposValues after = DeviceCampos();
    QCOMPARE(after.fov, 30.0);
    QCOMPARE(after.camangle, 89.0);
    QCOMPARE(after.heightMetres, 3.14159);
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
    Child<QLineEdit>(&dialog, "tTimeout")->setText(QStringLiteral("30"));
    ShowTab(dialog, "tabZones");
    Child<QTableWidget>(&dialog, "tableWidgetZones")->selectRow(0);
    Child<QPushButton>(&dialog, "pushButtonRemoveZone")->click();

    for (const char* apply : {"pushButtonApplyZones", "bApplyClassifierAndTimeout"}) {
        Child<QPushButton>(&dialog, apply)->click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, kLoadTimeoutMs);
        QTest::qWait(200);
        QCOMPARE(boxes.Texts().size(), 1);
        QCOMPARE(boxes.Titles().at(0), QStringLiteral("Error"));
        QVERIFY2(boxes.Texts().at(0).contains(QStringLiteral(" failed at the ")) &&
                     boxes.Texts().at(0).contains(QStringLiteral(" left as they were (checked).")),
                 qPrintable(boxes.Texts().at(0)));
        boxes.Clear();
    }
}

void PagesLanTest::zonesGoBackWithWhatTheyHold()
{
    QTemporaryFile config;
    QVERIFY(config.open());
    config.write(kSeededConfig);
    config.close();
    const auto sim = StartDevice({QStringLiteral("--http-config-file"), config.fileName()});
    QVERIFY(sim->IsReady());
    const QByteArray seeded = DeviceConfig();
    const ZonesMap seededZones = DeviceZones();
    QCOMPARE(seededZones.size(), size_t(3));
    BoxAnswers boxes;
    SettingsDialog dialog(Device(), nullptr);
    QSignalSpy status(&dialog, &SettingsDialog::StatusChanged);
    QVERIFY(ShowOnTab(dialog, "tabZones"));
    auto* apply = Child<QPushButton>(&dialog, "pushButtonApplyZones");
    QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kLoadTimeoutMs);
    QCOMPARE(Child<QTableWidget>(&dialog, "tableWidgetZones")->rowCount(), 3);

    // Nothing changed: nothing is sent, nothing is asked.
    apply->click();
    QCOMPARE(LastStatus(status), QStringLiteral("Nothing to apply: the zones were not changed."));
    QCOMPARE(DeviceConfig(), seeded);

    // A zone drawn: every zone goes back, but the one whose type and colour
    // cannot go back with it is asked about first. No sends nothing.
    Child<QPushButton>(&dialog, "pushButtonAddZone")->click();
    viewmouse::DrawPolygon(Child<QWidget>(&dialog, "videoWidget1"), {{100, 300}, {300, 300}, {200, 500}});
    apply->click();
    const QString question = QStringLiteral("Zone 'Lobby' has settings that re-adding it cannot keep (type "
                                            "PREALARM, colour 255,0,0); apply anyway?");
    QCOMPARE(boxes.texts, QStringList{question});
    QVERIFY(boxes.allPlainText);
    QCOMPARE(DeviceConfig(), seeded);

    boxes.answer = QMessageBox::Yes;
    apply->click();
    QCOMPARE(LastStatus(status), QStringLiteral("Zones were applied"));
    QCOMPARE(boxes.texts, (QStringList{question, question}));
    ZonesMap expected = seededZones;
    expected[8] = {{9102, 34132}, {27306, 34132}, {18204, 56888}};
    QVERIFY(DeviceZones() == expected);
    const ZoneSettingsMap zones = DeviceZoneSettings();
    QCOMPARE(zones.at(3).name, QStringLiteral("Door"));
    QVERIFY(!zones.at(3).enable);
    QCOMPARE(zones.at(5).name, QStringLiteral("Gate & Yard=#1 100% \u00e9"));
    QVERIFY(zones.at(5).enable);
    QCOMPARE(zones.at(7).name, QStringLiteral("Lobby"));
    QVERIFY(!zones.at(7).hasColour);
    QCOMPARE(zones.at(8).name, QStringLiteral("Zone_8"));
    QVERIFY(zones.at(8).enable);
}

void PagesLanTest::configurationReadInPartIsShownButNeverWrittenBack()
{
    const auto sim = StartDevice({QStringLiteral("--http-config-fault"), QStringLiteral("cut")});
    QVERIFY(sim->IsReady());
    const QString notWhole = VcaConfigReader(DeviceConfig()).NotWholeMessage();
    QVERIFY2(
        notWhole.startsWith(QStringLiteral("The device's configuration could not be read whole (line ")) &&
            notWhole.endsWith(QStringLiteral("); nothing will be written back from it")),
        qPrintable(notWhole));
    MessageBoxWatcher boxes;
    SettingsDialog dialog(Device(), nullptr);
    QVERIFY(ShowOnTab(dialog, "tabZones"));
    auto* table = Child<QTableWidget>(&dialog, "tableWidgetZones");
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, kLoadTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts(), QStringList{notWhole}, kLoadTimeoutMs);
    auto* apply = Child<QPushButton>(&dialog, "pushButtonApplyZones");
    QVERIFY(!apply->isEnabled());
    QCOMPARE(
        apply->toolTip(),
        QStringLiteral("The device's configuration could not be read whole; nothing will be written back "
                       "from it"));
    // The encoder fields keep what they showed; they would be written back.
    QVERIFY(Child<QLineEdit>(&dialog, "lFps")->text().isEmpty());
    QVERIFY(Child<QLineEdit>(&dialog, "lBitrate")->text().isEmpty());

    // The grid page reads the configuration again: the user was told once.
    ShowTab(dialog, "tabGrid");
    QTest::qWait(1500);
    ShowTab(dialog, "tabClassifier");
    QTest::qWait(500);
    QCOMPARE(boxes.Texts(), QStringList{notWhole});
}

void PagesLanTest::newerFirmwareConfigurationLoadsWhole()
{
    const auto sim = StartDevice({QStringLiteral("--http-config-fault"), QStringLiteral("unknown-fields")});
    QVERIFY(sim->IsReady());
    BoxAnswers boxes;
    SettingsDialog dialog(Device(), nullptr);
    QVERIFY(ShowOnTab(dialog, "tabZones"));
    auto* apply = Child<QPushButton>(&dialog, "pushButtonApplyZones");
    QTRY_VERIFY_WITH_TIMEOUT(apply->isEnabled(), kLoadTimeoutMs);
    auto* table = Child<QTableWidget>(&dialog, "tableWidgetZones");
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, kZoneColumnPoints)->text(),
             QStringLiteral("6553,6553:58982,6553:58982,58982:6553,58982:"));

    // The zone's type is one this tool does not know: re-adding it is asked
    // about, and No leaves the device as it was.
    viewmouse::Drag(Child<QWidget>(&dialog, "videoWidget1"), {648, 518}, {600, 450});
    apply->click();
    QCOMPARE(boxes.texts,
             QStringList{QStringLiteral("Zone 'Zone_1' has settings that re-adding it cannot keep "
                                        "(type LOITERING, settings this version does not know "
                                        "(dwell)); apply anyway?")});
    QVERIFY(DeviceZones() == kDeviceStartZones);
}

QTEST_MAIN(PagesLanTest)
#include "PagesLanTest.moc"
