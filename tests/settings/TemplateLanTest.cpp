// Configuration templates end to end inside the virtual LAN: saved from one
// simulated device through its settings dialog, applied to another through
// its dialog, and applied to several devices from the search window. What
// the devices hold afterwards is read from them directly.

#include "ClientMainForm.h"
#include "ConfigTemplate.h"
#include "DeviceNetworkParams.h"
#include "HttpClientModule.h"
#include "MessageBoxWatcher.h"
#include "SettingsDialog.h"
#include "SimDevice.h"
#include "TemplateBatchDialog.h"
#include "TemplatePartsDialog.h"
#include "TestHelpers.h"
#include "VCA.pb.h"
#include "VcaConfigReader.h"
#include "ZonesTab.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QItemSelectionModel>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

constexpr int kLoadTimeoutMs = 8000;
constexpr int kApplyTimeoutMs = 20000;
constexpr int kSearchEndTimeoutMs = 10000;
constexpr int kMacColumn = 3;

// The source device's configuration: two zones (one off), a timeout, two
// object classes, its own camera position and encoder.
const char kSourceConfig[] = R"(Ch {
  zones { id: 1 points { x: 1000 y: 2000 } points { x: 30000 y: 2000 } points { x: 30000 y: 40000 }
          enable: true name: "Gate & Yard" style: POLYGON }
  zones { id: 4 points { x: 40000 y: 10000 } points { x: 65535 y: 10000 } points { x: 50000 y: 65535 }
          enable: false name: "Dock" style: POLYGON }
  campos { FOV: 60 camangle: 30 height: 4.5 }
  timeout: 25
  objectClasses { minArea: 0.5 maxArea: 3 minHeight: 1 maxHeight: 2.2 }
  objectClasses { minArea: 4 maxArea: 20 minHeight: 1.2 maxHeight: 4 }
  encoder { fps: 12 bitrate: 1500000 }
  mog { history: 2000 }
}
videoSource { model: "axis" host: "192.168.0.90" login: "admin" password: "src-secret" }
)";

// The target differs in every part.
const char kTargetConfig[] = R"(Ch {
  zones { id: 2 points { x: 100 y: 100 } points { x: 900 y: 100 } points { x: 900 y: 900 }
          enable: true name: "Old" style: POLYGON }
  campos { FOV: 40 camangle: 20 height: 2.5 }
  timeout: 90
  objectClasses { minArea: 1 maxArea: 2 minHeight: 1 maxHeight: 2 }
  encoder { fps: 30 bitrate: 4000000 }
  mog { history: 2000 }
}
videoSource { model: "axis" host: "192.168.0.91" login: "admin" password: "tgt-secret" }
)";

struct Device {
    QString ns;
    QString ip;
    QString mac;
};
const Device kSource{QStringLiteral("dev1"), QStringLiteral("10.77.0.11"),
                     QStringLiteral("02:51:45:4C:7A:01")};
const Device kTarget{QStringLiteral("dev2"), QStringLiteral("10.77.0.12"),
                     QStringLiteral("02:51:45:4C:7A:02")};

std::unique_ptr<SimDevice> StartDevice(const Device& device, const QString& configFile, const QString& name,
                                       const QStringList& extra = {})
{
    return std::make_unique<SimDevice>(device.ns,
                                       QStringList{QStringLiteral("--mac"), device.mac,
                                                   QStringLiteral("--name"), name,
                                                   QStringLiteral("--http-config-file"), configFile} +
                                           extra,
                                       QStringLiteral("udp,http"));
}

DeviceNetworkParams Params(const Device& device, const char* name)
{
    DeviceNetworkParams params{};
    params.deviceName = name;
    StringToIpType(device.ip.toStdString(), params.ip);
    const QStringList bytes = device.mac.split(QLatin1Char(':'));
    for (int i = 0; i < 6; ++i) {
        params.mac[i] = static_cast<char>(bytes.at(i).toInt(nullptr, 16));
    }
    return params;
}

// The device's configuration as getconfig.fcgi answers it now.
QByteArray DeviceConfig(const Device& device)
{
    HttpClientModule module(nullptr);
    QSignalSpy done(&module, &HttpClientModule::Done);
    module.Start(QStringLiteral("http://%1/qel-cgi/admin/getconfig.fcgi").arg(device.ip).toStdString());
    return done.wait(kLoadTimeoutMs) ? done.at(0).at(0).toByteArray() : QByteArray();
}

// Answers the modal dialogs the tool opens in turn: each handler gets the
// active modal widget and returns true when it dealt with it.
class ModalDriver final {
public:
    using Handler = std::function<bool(QWidget*)>;
    explicit ModalDriver(std::vector<Handler> handlers) : handlers_(std::move(handlers))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && next_ < handlers_.size() && handlers_[next_](modal)) {
                ++next_;
            }
        });
        timer_.start(30);
    }
    bool AllHandled() const { return next_ == handlers_.size(); }

private:
    std::vector<Handler> handlers_;
    size_t next_ = 0;
    QTimer timer_;
};

// The file the next template save or apply picks.
void ChooseFile(const QString& path)
{
    SetTemplateFileAsker([path](QWidget*, bool) { return path; });
}

// Records the part choice as offered and accepts it.
ModalDriver::Handler AcceptParts(QStringList& offered)
{
    return [&offered](QWidget* modal) {
        auto* parts = qobject_cast<TemplatePartsDialog*>(modal);
        if (parts == nullptr) {
            return false;
        }
        for (QCheckBox* box : parts->findChildren<QCheckBox*>()) {
            offered << QStringLiteral("%1=%2").arg(box->text()).arg(box->isChecked());
        }
        offered << Child<QLabel>(parts, "labelCameraNote")->text();
        if (const auto* named = parts->findChild<QLabel*>(QStringLiteral("labelTemplate"))) {
            offered << named->text();
        }
        Child<QDialogButtonBox>(parts, "buttonBox")->button(QDialogButtonBox::Ok)->click();
        return true;
    };
}

QString Status(const SettingsDialog& dialog)
{
    return Child<QLabel>(const_cast<SettingsDialog*>(&dialog), "labelStatus")->text();
}

void ShowTab(SettingsDialog& dialog, const char* tabName)
{
    Child<QTabWidget>(&dialog, "tabWidget")->setCurrentWidget(Child<QWidget>(&dialog, tabName));
}

bool SameZones(const VcaConfigReader& a, const VcaConfigReader& b)
{
    ZonesMap zonesA;
    ZonesMap zonesB;
    ZoneSettingsMap settingsA;
    ZoneSettingsMap settingsB;
    QString error;
    if (!a.ReadZones(zonesA, error) || !b.ReadZones(zonesB, error) || !a.ReadZoneSettings(settingsA, error) ||
        !b.ReadZoneSettings(settingsB, error) || zonesA != zonesB || settingsA.size() != settingsB.size()) {
        return false;
    }
    for (const auto& zone : settingsA) {
        const ZoneSettings& other = settingsB[zone.first];
        if (zone.second.name != other.name || zone.second.enable != other.enable) {
            return false;
        }
    }
    return true;
}

} // namespace

class TemplateLanTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!SimDevice::Available()) {
            QSKIP("needs the virtual LAN and the simulator (run through ctest)");
        }
        // The folders the template dialogs remember go here, not to the
        // user's settings.
        QVERIFY(settingsDir_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
    }

    void cleanup() { SetTemplateFileAsker({}); }

    // Save from one device's dialog, apply to another's with the default
    // parts: zones, timeout and classes now equal, the camera position and
    // the video source (with its password) stay the target's own.
    void savedTemplateAppliesToAnotherDevice();
    // From the search window to two selected devices, one of which fails
    // every vca.cgi request: the batch carries on, the table tells each
    // part's fate and the summary names the failure.
    void windowAppliesToSelectedDevices();
    // A configuration read in part is neither saved nor written to; a part
    // the device refuses is reported as not applied, never as applied.
    void failuresAreNeverReportedAsApplied();
    // The device refuses the first zone added after the removal: its zones
    // are put back and the pages show them; the other parts go through.
    void failedAddIsPutBack();
    // A device whose zones the template cannot replace without loss is sent
    // nothing, and the zones page keeps the user's unapplied edit.
    void refusedApplyLeavesThePages();
    // The user stops the part at work: it is put back, the later parts are
    // not sent.
    void cancelStopsTheRest();

private:
    QTemporaryDir settingsDir_;
};

void TemplateLanTest::cancelStopsTheRest()
{
    QTemporaryDir dir;
    const auto target =
        StartDevice(kTarget, WriteFile(dir, QStringLiteral("target.conf"), kTargetConfig),
                    QStringLiteral("Slow"), {QStringLiteral("--http-slow-writes-ms"), QStringLiteral("800")});
    QVERIFY(target->IsReady());
    const QByteArray before = DeviceConfig(kTarget);
    QByteArray text;
    QString error;
    QVERIFY(MakeConfigTemplate(VcaConfigReader(kSourceConfig), TemplateSource{}, text, error));
    ChooseFile(WriteFile(dir, QStringLiteral("gate.txt"), text));
    MessageBoxWatcher boxes;
    boxes.SetAnswer(QMessageBox::Yes);
    SettingsDialog dialog(Params(kTarget, "Slow"), nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QStringList offered;
    // Stopped while the first zone is added: the removal already done is
    // put back, and no later part is sent.
    ModalDriver driver({AcceptParts(offered), [](QWidget* modal) {
                            auto* shown = qobject_cast<QProgressDialog*>(modal);
                            if (shown == nullptr || !shown->isVisible() ||
                                shown->labelText() !=
                                    QStringLiteral("Applying the template's zones to Slow (2 of 3)\u2026")) {
                                return false;
                            }
                            shown->reject();
                            return true;
                        }});
    Child<QPushButton>(&dialog, "pushButtonApplyTemplate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(Status(dialog).startsWith(QStringLiteral(
                                 "Applying the template was cancelled: zones: failed: stopped: "
                                 "the device's zones were put back as they were (checked); ")),
                             kApplyTimeoutMs);
    QVERIFY2(Status(dialog).endsWith(QStringLiteral("encoder: not sent (cancelled)")),
             qPrintable(Status(dialog)));
    QCOMPARE(boxes.Texts().size(), 1); // the question whether to stop, and no error
    QCOMPARE(DeviceConfig(kTarget), before);
}

void TemplateLanTest::failuresAreNeverReportedAsApplied()
{
    QTemporaryDir dir;
    const auto cut =
        StartDevice(kSource, WriteFile(dir, QStringLiteral("source.conf"), kSourceConfig),
                    QStringLiteral("Cut"), {QStringLiteral("--http-config-fault"), QStringLiteral("cut")});
    const auto refusing =
        StartDevice(kTarget, WriteFile(dir, QStringLiteral("target.conf"), kTargetConfig),
                    QStringLiteral("Refusing"), {QStringLiteral("--http-fail"), QStringLiteral("vca.cgi")});
    QVERIFY(cut->IsReady() && refusing->IsReady());
    QByteArray text;
    QString error;
    QVERIFY(MakeConfigTemplate(VcaConfigReader(kSourceConfig), TemplateSource{}, text, error));
    const QString file = WriteFile(dir, QStringLiteral("gate.txt"), text);
    const QByteArray cutBefore = DeviceConfig(kSource);
    const QString notWhole = VcaConfigReader(cutBefore).NotWholeMessage();
    QVERIFY(!notWhole.isEmpty());
    MessageBoxWatcher boxes;
    {
        SettingsDialog dialog(Params(kSource, "Cut"), nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // The source page's own read names it first.
        QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts(), QStringList{notWhole}, kLoadTimeoutMs);
        boxes.Clear();
        bool asked = false;
        SetTemplateFileAsker([&asked, &dir](QWidget*, bool save) {
            asked = asked || save;
            return dir.filePath(QStringLiteral("cut.txt"));
        });
        Child<QPushButton>(&dialog, "pushButtonSaveTemplate")->click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts(),
                                  QStringList{QStringLiteral("The template was not saved: ") + notWhole},
                                  kLoadTimeoutMs);
        QVERIFY(!asked);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("cut.txt"))));
        boxes.Clear();

        QStringList offered;
        ChooseFile(file);
        ModalDriver driver({AcceptParts(offered)});
        Child<QPushButton>(&dialog, "pushButtonApplyTemplate")->click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts(),
                                  QStringList{QStringLiteral("The template was not applied: ") + notWhole},
                                  kLoadTimeoutMs);
        QCOMPARE(DeviceConfig(kSource), cutBefore);
    }
    boxes.Clear();

    const QByteArray refusingBefore = DeviceConfig(kTarget);
    SettingsDialog dialog(Params(kTarget, "Refusing"), nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QStringList offered;
    ModalDriver driver({AcceptParts(offered)});
    Child<QPushButton>(&dialog, "pushButtonApplyTemplate")->click();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, kApplyTimeoutMs);
    // The zones' removal is refused; the timeout went through before the
    // classes' removal was refused, and is put back.
    QVERIFY2(boxes.Texts().at(0).startsWith(QStringLiteral(
                 "Template not applied whole: zones: failed: at the removal of the zones: the device's zones "
                 "were left as they were (checked); classifier and timeout: failed: at the removal of the "
                 "object classes: the device's zone timeout and object classes were put back as they were "
                 "(checked); encoder: matches.")),
             qPrintable(boxes.Texts().at(0)));
    QVERIFY(!Status(dialog).startsWith(QStringLiteral("Template applied")));
    const VcaConfigReader now(DeviceConfig(kTarget));
    const VcaConfigReader was(refusingBefore);
    QVERIFY(SameZones(now, was));
    QCOMPARE(now.Config().ch(0).timeout(), was.Config().ch(0).timeout());
    QCOMPARE(now.Config().ch(0).objectclasses_size(), was.Config().ch(0).objectclasses_size());
}

void TemplateLanTest::failedAddIsPutBack()
{
    QTemporaryDir dir;
    const auto target =
        StartDevice(kTarget, WriteFile(dir, QStringLiteral("target.conf"), kTargetConfig),
                    QStringLiteral("Half"), {QStringLiteral("--http-fail-nth-write"), QStringLiteral("2")});
    QVERIFY(target->IsReady());
    const QByteArray before = DeviceConfig(kTarget);
    QByteArray text;
    QString error;
    QVERIFY(MakeConfigTemplate(VcaConfigReader(kSourceConfig), TemplateSource{}, text, error));
    ChooseFile(WriteFile(dir, QStringLiteral("gate.txt"), text));
    MessageBoxWatcher boxes;
    SettingsDialog dialog(Params(kTarget, "Half"), nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ShowTab(dialog, "tabZones");
    auto* table = Child<QTableWidget>(&dialog, "tableWidgetZones");
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, kLoadTimeoutMs);
    QStringList offered;
    ModalDriver driver({AcceptParts(offered)});
    Child<QPushButton>(&dialog, "pushButtonApplyTemplate")->click();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, kApplyTimeoutMs);
    QVERIFY2(
        boxes.Texts().at(0).startsWith(QStringLiteral(
            "Template not applied whole: zones: failed: at zone 1 'Gate & Yard': the device's zones were put "
            "back as they were (checked); classifier and timeout: matches; encoder: matches.")),
        qPrintable(boxes.Texts().at(0)));
    const VcaConfigReader now(DeviceConfig(kTarget));
    QVERIFY(SameZones(now, VcaConfigReader(before)));
    QCOMPARE(now.Config().ch(0).timeout(), 25u);
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, kZoneColumnPoints)->text(), QStringLiteral("100,100:900,100:900,900:"));
}

void TemplateLanTest::refusedApplyLeavesThePages()
{
    QTemporaryDir dir;
    QByteArray lossy(kTargetConfig);
    lossy.replace("name: \"Old\" style: POLYGON", "name: \"Old\" type: NONDETECTION style: POLYGON");
    const auto target =
        StartDevice(kTarget, WriteFile(dir, QStringLiteral("target.conf"), lossy), QStringLiteral("Lossy"));
    QVERIFY(target->IsReady());
    const QByteArray before = DeviceConfig(kTarget);
    QByteArray text;
    QString error;
    QVERIFY(MakeConfigTemplate(VcaConfigReader(kSourceConfig), TemplateSource{}, text, error));
    ChooseFile(WriteFile(dir, QStringLiteral("gate.txt"), text));
    MessageBoxWatcher boxes;
    boxes.SetAnswer(QMessageBox::Yes);
    SettingsDialog dialog(Params(kTarget, "Lossy"), nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ShowTab(dialog, "tabZones");
    auto* table = Child<QTableWidget>(&dialog, "tableWidgetZones");
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, kLoadTimeoutMs);
    table->selectRow(0);
    Child<QPushButton>(&dialog, "pushButtonRemoveZone")->click();
    QStringList offered;
    ModalDriver driver({AcceptParts(offered)});
    Child<QPushButton>(&dialog, "pushButtonApplyTemplate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(boxes.Texts().size() == 2, kApplyTimeoutMs);
    QCOMPARE(
        boxes.Texts().at(1),
        QStringLiteral("The template was not applied: zones: not sent: the device's zones cannot be replaced "
                       "without loss: zone 2 'Old' has settings the add request cannot carry (type "
                       "NONDETECTION)"));
    QCOMPARE(DeviceConfig(kTarget), before);
    QCOMPARE(table->rowCount(), 0);
}

void TemplateLanTest::windowAppliesToSelectedDevices()
{
    QTemporaryDir dir;
    const QString targetConfig = WriteFile(dir, QStringLiteral("target.conf"), kTargetConfig);
    const auto good = StartDevice(kSource, targetConfig, QStringLiteral("Yard A"));
    // Slow enough that the table is seen marking the device at work.
    const auto failing = StartDevice(kTarget, targetConfig, QStringLiteral("Yard B"),
                                     {QStringLiteral("--http-fail"), QStringLiteral("vca.cgi"),
                                      QStringLiteral("--http-delay-ms"), QStringLiteral("150")});
    QVERIFY(good->IsReady() && failing->IsReady());
    QByteArray text;
    QString error;
    QVERIFY(MakeConfigTemplate(VcaConfigReader(kSourceConfig), TemplateSource{}, text, error));
    ChooseFile(WriteFile(dir, QStringLiteral("gate.txt"), text));

    ClientMainForm window;
    window.show();
    auto* table = Child<QTableWidget>(&window, "tableWidgetDevices");
    auto* search = Child<QPushButton>(&window, "pushButtonSearch");
    search->click();
    QTRY_VERIFY_WITH_TIMEOUT(search->isEnabled(), kSearchEndTimeoutMs);
    table->clearSelection();
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString mac = table->item(row, kMacColumn)->text();
        if (mac == QString(kSource.mac).replace(QLatin1Char(':'), QLatin1Char('-')) ||
            mac == QString(kTarget.mac).replace(QLatin1Char(':'), QLatin1Char('-'))) {
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    QStringList offered;
    QList<QStringList> rows;
    QString summary;
    QString batchNamed;
    QSet<QString> working; // "name bold selected" of rows seen at work
    ModalDriver driver({AcceptParts(offered), [&](QWidget* modal) {
                            auto* batch = qobject_cast<TemplateBatchDialog*>(modal);
                            if (batch == nullptr) {
                                return false;
                            }
                            auto* shown = Child<QTableWidget>(batch, "tableWidgetDevices");
                            if (!Child<QPushButton>(batch, "pushButtonClose")->isEnabled()) {
                                for (int r = 0; r < shown->rowCount(); ++r) {
                                    if (shown->item(r, 3)->text() == QStringLiteral("working\u2026")) {
                                        working << QStringLiteral("%1 %2 %3")
                                                       .arg(shown->item(r, 0)->text())
                                                       .arg(shown->item(r, 0)->font().bold())
                                                       .arg(shown->selectionModel()->isRowSelected(r, {}));
                                    }
                                }
                                return false;
                            }
                            batchNamed = Child<QLabel>(batch, "labelTemplate")->text();
                            QStringList header;
                            for (int c = 0; c < shown->columnCount(); ++c) {
                                header << shown->horizontalHeaderItem(c)->text();
                            }
                            rows << header;
                            for (int r = 0; r < shown->rowCount(); ++r) {
                                QStringList cells;
                                for (int c = 0; c < shown->columnCount(); ++c) {
                                    cells << shown->item(r, c)->text();
                                }
                                rows << cells;
                            }
                            summary = Child<QLabel>(batch, "labelSummary")->text();
                            Child<QPushButton>(batch, "pushButtonClose")->click();
                            return true;
                        }});
    Child<QPushButton>(&window, "pushButtonApplyTemplate")->click();
    QVERIFY(driver.AllHandled());

    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0), (QStringList{QStringLiteral("Device name"), QStringLiteral("MAC address"),
                                      QStringLiteral("IP address"), QStringLiteral("zones"),
                                      QStringLiteral("classifier and timeout"), QStringLiteral("encoder")}));
    // Rows in the order the table lists the devices.
    const int goodRow = rows.at(1).at(0) == QStringLiteral("Yard A") ? 1 : 2;
    const int failingRow = 3 - goodRow;
    QCOMPARE(rows.at(goodRow).mid(2), (QStringList{QStringLiteral("10.77.0.11"), QStringLiteral("matches"),
                                                   QStringLiteral("matches"), QStringLiteral("matches")}));
    const QStringList failed = rows.at(failingRow);
    QCOMPARE(failed.mid(0, 3), (QStringList{QStringLiteral("Yard B"), QStringLiteral("02-51-45-4C-7A-02"),
                                            QStringLiteral("10.77.0.12")}));
    QVERIFY2(failed.at(3).startsWith(QStringLiteral("failed: ")), qPrintable(failed.at(3)));
    QVERIFY2(failed.at(4).startsWith(QStringLiteral("failed: ")), qPrintable(failed.at(4)));
    QCOMPARE(failed.at(5), QStringLiteral("matches"));
    QVERIFY2(summary.startsWith(QStringLiteral("1 of 2 devices match the template; not matching: Yard B "
                                               "(10.77.0.12) (zones: failed: ")),
             qPrintable(summary));
    QCOMPARE(Child<QStatusBar>(&window, "statusbar")->currentMessage(), summary);
    // Both dialogs name the template; this one's header names no device.
    QCOMPARE(offered.last(), QStringLiteral("Template: gate.txt, source device not known"));
    QCOMPARE(batchNamed, offered.last());
    QVERIFY2(working.contains(QStringLiteral("Yard B 1 1")),
             qPrintable(QStringList(working.values()).join(QLatin1Char(','))));

    // The device that took every request holds the template now.
    const VcaConfigReader from(kSourceConfig);
    const VcaConfigReader to(DeviceConfig(kSource));
    QVERIFY(SameZones(from, to));
    QCOMPARE(to.Config().ch(0).timeout(), 25u);
}

void TemplateLanTest::savedTemplateAppliesToAnotherDevice()
{
    QTemporaryDir dir;
    const auto source = StartDevice(kSource, WriteFile(dir, QStringLiteral("source.conf"), kSourceConfig),
                                    QStringLiteral("Gate"));
    const auto target = StartDevice(kTarget, WriteFile(dir, QStringLiteral("target.conf"), kTargetConfig),
                                    QStringLiteral("Yard"));
    QVERIFY(source->IsReady() && target->IsReady());
    const QByteArray targetBefore = DeviceConfig(kTarget);
    MessageBoxWatcher boxes;
    const QString saved = dir.filePath(QStringLiteral("gate.txt"));

    {
        SettingsDialog dialog(Params(kSource, "Gate"), nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        ShowTab(dialog, "tabClassifier");
        auto* timeout = Child<QLineEdit>(&dialog, "tTimeout");
        QTRY_COMPARE_WITH_TIMEOUT(timeout->text(), QStringLiteral("25"), kLoadTimeoutMs);
        // A change applied since the configuration was read is in the
        // template; an edit the user has not applied is not.
        timeout->setText(QStringLiteral("30"));
        Child<QPushButton>(&dialog, "bApplyClassifierAndTimeout")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Status(dialog), QStringLiteral("Classifier settings were applied"),
                                  kLoadTimeoutMs);
        timeout->setText(QStringLiteral("999"));
        ChooseFile(saved);
        Child<QPushButton>(&dialog, "pushButtonSaveTemplate")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Status(dialog), QStringLiteral("Template saved to %1").arg(saved),
                                  kLoadTimeoutMs);
    }
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("# Source device: Gate\n"));
    QVERIFY(text.contains("# Source MAC address: 02-51-45-4C-7A-01\n"));
    QVERIFY(text.contains("# Source IP address: 10.77.0.11\n"));
    QVERIFY(text.contains("timeout: 30\n"));
    QVERIFY(!text.contains("secret") && !text.contains("password") && !text.contains("videoSource"));

    SettingsDialog dialog(Params(kTarget, "Yard"), nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ShowTab(dialog, "tabZones");
    auto* zoneTable = Child<QTableWidget>(&dialog, "tableWidgetZones");
    QTRY_COMPARE_WITH_TIMEOUT(zoneTable->rowCount(), 1, kLoadTimeoutMs);
    auto* apply = Child<QPushButton>(&dialog, "pushButtonApplyTemplate");

    // A file that does not read whole is refused where it breaks off, and
    // nothing is sent.
    const QString broken =
        WriteFile(dir, QStringLiteral("broken.txt"), text.left(text.indexOf("points")) + "points { x: ");
    ChooseFile(broken);
    apply->click();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, kLoadTimeoutMs);
    QVERIFY2(boxes.Texts().at(0).startsWith(
                 QStringLiteral("The template %1 was refused: The template could not be read whole (line ")
                     .arg(broken)),
             qPrintable(boxes.Texts().at(0)));
    boxes.Clear();

    QStringList offered;
    {
        ChooseFile(saved);
        ModalDriver driver({AcceptParts(offered)});
        apply->click();
        QTRY_COMPARE_WITH_TIMEOUT(
            Status(dialog),
            QStringLiteral("Template applied: zones, classifier and timeout, encoder match the file"),
            kApplyTimeoutMs);
    }
    QCOMPARE(offered, (QStringList{QStringLiteral("zones=1"), QStringLiteral("classifier and timeout=1"),
                                   QStringLiteral("encoder=1"), QStringLiteral("camera position=0"),
                                   QStringLiteral("depends on how each camera is mounted"),
                                   QStringLiteral("Template: gate.txt, from Gate (10.77.0.11)")}));
    QCOMPARE(boxes.Texts(), QStringList());

    const VcaConfigReader from(DeviceConfig(kSource));
    const VcaConfigReader to(DeviceConfig(kTarget));
    const VcaConfigReader before(targetBefore);
    QVERIFY(from.IsWhole() && to.IsWhole());
    QVERIFY(SameZones(from, to));
    const Channel& a = from.Config().ch(0);
    const Channel& b = to.Config().ch(0);
    QCOMPARE(b.timeout(), 30u);
    QCOMPARE(b.objectclasses_size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(b.objectclasses(i).SerializeAsString(), a.objectclasses(i).SerializeAsString());
    }
    QCOMPARE(b.encoder().SerializeAsString(), a.encoder().SerializeAsString());
    QCOMPARE(b.campos().SerializeAsString(), before.Config().ch(0).campos().SerializeAsString());
    QCOMPARE(to.Config().videosource().SerializeAsString(),
             before.Config().videosource().SerializeAsString());
    QCOMPARE(QString::fromStdString(to.Config().videosource().password()), QStringLiteral("tgt-secret"));

    // The pages show what the device now holds.
    QCOMPARE(zoneTable->rowCount(), 2);
    QCOMPARE(Child<QLineEdit>(&dialog, "tTimeout")->text(), QStringLiteral("30"));
    QCOMPARE(Child<QLineEdit>(&dialog, "lFps")->text(), QStringLiteral("12"));
    QCOMPARE(Child<QLineEdit>(&dialog, "lBitrate")->text(), QStringLiteral("1500000"));
}

QTEST_MAIN(TemplateLanTest)
#include "TemplateLanTest.moc"
