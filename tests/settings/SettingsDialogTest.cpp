// The settings dialog without a device: its form, the network group filled
// from the record, the error display, and the loading order when the device's
// web interface refuses connections (a loopback address with no server).

#include "DrawableView.h"
#include "ErrorBox.h"
#include "LogCapture.h"
#include "Md5Hash.h"
#include "MessageBoxWatcher.h"
#include "SettingsDialog.h"
#include "SilentStreamWatch.h"
#include "TemplatePartsDialog.h"
#include "ui_SettingsDialog.h"
#include "TestHelpers.h"
#include "ViewMouse.h"
#include "ZonesTab.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QScrollArea>
#include <QScreen>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Nothing listens on port 80 of the loopback address here, so every request
// of the dialog fails at once with a refused connection.
DeviceNetworkParams RefusingDevice()
{
    DeviceNetworkParams params{};
    params.productName = "QEL VCA-100";
    params.deviceName = "Entrance Ω";
    StringToIpType("127.0.0.1", params.ip);
    StringToIpType("255.0.0.0", params.mask);
    StringToIpType("127.0.0.254", params.gateway);
    params.connectionType = STATIC;
    params.serialNo = "SN-0042";
    const char mac[6] = {0x02, 0x51, 0x45, 0x4C, 0x00, 0x01};
    std::memcpy(params.mac, mac, sizeof(mac));
    return params;
}

const char kRefused[] = "HTTP request failed: Connection refused";
const char kSourceRefused[] =
    "Loading the video source settings failed: HTTP request failed: Connection refused";

QString Hex(const unsigned char* bytes, int size)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), size).toHex());
}

// The most common installer laptop screen.
const QRect kLaptopScreen(0, 0, 1366, 768);

void SaveScreenshot(QWidget* widget, const QString& name)
{
    QDir().mkpath(QStringLiteral(QEL_SCREENSHOT_DIR));
    const QString path = QStringLiteral(QEL_SCREENSHOT_DIR "/") + name;
    QVERIFY(widget->grab().save(path));
    qInfo("screenshot: %s", qPrintable(path));
}

// Whether the whole widget shows inside `frame` (the dialog) and, when it
// sits on a scrolled page, inside that page's visible part.
bool ShowsWhole(QWidget* widget, QWidget* frame, QScrollArea* area)
{
    const QRect rect(widget->mapTo(frame, QPoint(0, 0)), widget->size());
    if (!frame->rect().contains(rect)) {
        return false;
    }
    if (area == nullptr) {
        return true;
    }
    return QRect(area->viewport()->mapTo(frame, QPoint(0, 0)), area->viewport()->size()).contains(rect);
}

} // namespace

class SettingsDialogTest final : public QObject {
    Q_OBJECT
private slots:
    void FormHasTabsAndWidgets();
    void NetworkGroupShowsRecord();
    void FailedSourceLoadIsShownOnceAndNeverRetried();
    void LaterFirstShowWaitsForOutstandingReply();
    void DisplayErrorLogsReportsAndShowsBox();
    void Md5DigestOfPassword();
    void ShowsItsDeviceAndEveryStatusText();
    void StatusLineShowsTheCurrentTabsLatestStatus();
    void FitsLaptopScreenWithEveryButtonReachable();
    void EscapeAndCloseKeepUnfinishedZones();
    void FailureWhileCloseAsksWaitsForTheAnswer();
    void AddressFieldsFollowIpTypeAndBadAddressTakesFocus();
    void SilenceTextGoesWithTheNextPicture();
    void TemplatePartChoiceNeedsAPartAndWarnsOfAnotherAspect();
};

void SettingsDialogTest::FormHasTabsAndWidgets()
{
    MessageBoxWatcher boxes;
    SettingsDialog dialog(RefusingDevice(), nullptr);
    Ui::SettingsDialog* ui = dialog.Form();

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings Dialog"));
    QCOMPARE(dialog.size(), QSize(1131, 881));
    QVERIFY(dialog.isModal());
    QCOMPARE(ui->buttonBox->standardButtons(), QDialogButtonBox::Close);

    const QStringList pages = {QStringLiteral("tabSettings"), QStringLiteral("tabSource"),
                               QStringLiteral("tabZones"), QStringLiteral("tabGrid"),
                               QStringLiteral("tabClassifier")};
    const QStringList captions = {QStringLiteral("Settings"), QStringLiteral("Source"),
                                  QStringLiteral("Zones"), QStringLiteral("Grid"),
                                  QStringLiteral("Classifier")};
    QCOMPARE(ui->tabWidget->count(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(ui->tabWidget->widget(i)->objectName(), pages[i]);
        QCOMPARE(ui->tabWidget->tabText(i), captions[i]);
    }
    QCOMPARE(ui->tabWidget->currentWidget(), ui->tabSource);

    QCOMPARE(ui->comboBoxIpType->count(), 2);
    QCOMPARE(ui->comboBoxIpType->itemText(DHCP), QStringLiteral("DHCP"));
    QCOMPARE(ui->comboBoxIpType->itemText(STATIC), QStringLiteral("Static"));
    QCOMPARE(ui->comboBoxIpType->insertPolicy(), QComboBox::NoInsert);
    for (QLineEdit* secret :
         {ui->lineEditCurPassword, ui->lineEditCurPassword2, ui->lineEditNewPassword,
          ui->lineEditNewPassword2, ui->lineEditCurPassword3, ui->lineEditSourcePasswprd}) {
        QCOMPARE(secret->echoMode(), QLineEdit::Password);
        QVERIFY(secret->text().isEmpty());
    }
    for (QLineEdit* plain : {ui->lineEditDeviceName, ui->lineEditIpAddress, ui->lineEditNetMask,
                             ui->lineEditGateway, ui->lineEditDns}) {
        QCOMPARE(plain->echoMode(), QLineEdit::Normal);
        QVERIFY(plain->inputMask().isEmpty());
        QVERIFY(plain->validator() == nullptr);
    }
    QCOMPARE(ui->comboBoxModel->count(), 3);
    QCOMPARE(ui->comboBoxModel->currentText(), QStringLiteral("axis"));
    QCOMPARE(ui->comboBoxModel->itemText(2), QStringLiteral("zemblatic"));

    for (QWidget* view : {ui->videoWidget1, ui->videoWidget2}) {
        QVERIFY(qobject_cast<DrawableView*>(view) != nullptr);
        QCOMPARE(view->minimumSize(), QSize(720, 576));
        QCOMPARE(view->maximumSize(), QSize(720, 576));
    }
    QCOMPARE(ui->pushButtonApplyZones->text(), QStringLiteral("Apply Zones"));
    QCOMPARE(ui->pushButtonRemoveZone->text(), QStringLiteral("Remove Zone"));
    QCOMPARE(ui->pushButtonAddZone->text(), QStringLiteral("Add Zone"));

    // Grid page: ranges, and the couplings the form makes itself.
    QCOMPARE(ui->spinBoxFieldOfView->minimum(), 1);
    QCOMPARE(ui->spinBoxFieldOfView->maximum(), 89);
    QCOMPARE(ui->horizontalSliderCameraHeight->maximum(), 400);
    QCOMPARE(ui->doubleSpinBoxCameraHeight->decimals(), 2);
    QCOMPARE(ui->doubleSpinBoxCameraHeight->minimum(), 0.1);
    QCOMPARE(ui->doubleSpinBoxCameraHeight->maximum(), 40.0);
    QCOMPARE(ui->doubleSpinBoxMimic2->value(), 2.0);
    QCOMPARE(ui->lbRulerSize1->text(), QStringLiteral("0  м."));
    QCOMPARE(ui->lbRuler2->styleSheet(), QStringLiteral("background-color: rgb(33, 198, 33);"));
    ui->horizontalSliderFieldOfView->setValue(45);
    QCOMPARE(ui->spinBoxFieldOfView->value(), 45);
    ui->spinBoxCameraAngle->setValue(12);
    QCOMPARE(ui->horizontalSliderCameraAngle->value(), 12);
    ui->spinBoxCameraAngle->setValue(95);
    QCOMPARE(ui->spinBoxCameraAngle->value(), 89);

    // Classifier page defaults.
    QCOMPARE(ui->tTimeout->text(), QStringLiteral("15"));
    QCOMPARE(ui->tObject1MinHeight->text(), QStringLiteral("1"));
    QCOMPARE(ui->tObject1MaxHeight->text(), QStringLiteral("2.25"));
    QCOMPARE(ui->tObject1MinArea->text(), QStringLiteral("2.0"));
    QCOMPARE(ui->tObject1MaxArea->text(), QStringLiteral("2.25"));
    QVERIFY(ui->tObject4MaxArea->text().isEmpty());

    // Without a live connection only Connect is usable on the video pages.
    QVERIFY(ui->pushButtonConnect1->isEnabled());
    QVERIFY(ui->pushButtonConnect2->isEnabled());
    QVERIFY(!ui->pushButtonDisconnect1->isEnabled());
    QVERIFY(!ui->pushButtonDisconnect2->isEnabled());
    QVERIFY(!ui->spinBoxFieldOfView->isEnabled());
    QVERIFY(!ui->pushButtonApplyGrid->isEnabled());
    QVERIFY(ui->pushButtonAddLine1->isEnabled());

    QTRY_COMPARE(boxes.Texts().size(), 1); // the refused source load
}

void SettingsDialogTest::NetworkGroupShowsRecord()
{
    MessageBoxWatcher boxes;
    DeviceNetworkParams params = RefusingDevice();
    SettingsDialog dialog(params, nullptr);
    Ui::SettingsDialog* ui = dialog.Form();

    QCOMPARE(ui->lineEditDeviceName->text(), QStringLiteral("Entrance Ω"));
    QCOMPARE(ui->comboBoxIpType->currentIndex(), static_cast<int>(STATIC));
    QCOMPARE(ui->lineEditIpAddress->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(ui->lineEditNetMask->text(), QStringLiteral("255.0.0.0"));
    QCOMPARE(ui->lineEditGateway->text(), QStringLiteral("127.0.0.254"));
    QCOMPARE(ui->lineEditDns->text(), QStringLiteral("0.0.0.0"));

    // The dialog keeps its own copy.
    params.deviceName = "changed";
    QCOMPARE(QString::fromStdString(dialog.GetParams().deviceName), QStringLiteral("Entrance Ω"));

    params.connectionType = DHCP;
    SettingsDialog dhcp(params, nullptr);
    QCOMPARE(dhcp.Form()->comboBoxIpType->currentIndex(), static_cast<int>(DHCP));
    QTRY_COMPARE(boxes.Texts().size(), 2);
}

void SettingsDialogTest::FailedSourceLoadIsShownOnceAndNeverRetried()
{
    LogCapture log;
    MessageBoxWatcher boxes;
    SettingsDialog dialog(RefusingDevice(), nullptr);
    QSignalSpy status(&dialog, SIGNAL(StatusChanged(const QString&, int)));
    Ui::SettingsDialog* ui = dialog.Form();

    // Disabled while the reply is outstanding...
    QVERIFY(!ui->lineEditSourceHost->isEnabled());
    QVERIFY(!ui->pushButtonApply3->isEnabled());
    QTRY_COMPARE(boxes.Texts(), QStringList{QString::fromLatin1(kSourceRefused)});
    QCOMPARE(boxes.Titles(), QStringList{QStringLiteral("Error")});
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QString::fromLatin1(kSourceRefused));
    QCOMPARE(status.at(0).at(1).toInt(), 0);

    // ...and for good after the failure, whatever tab is shown next.
    for (QWidget* w :
         {static_cast<QWidget*>(ui->comboBoxModel), static_cast<QWidget*>(ui->lineEditSourceHost),
          static_cast<QWidget*>(ui->lineEditSourceLogin), static_cast<QWidget*>(ui->lineEditSourcePasswprd),
          static_cast<QWidget*>(ui->lineEditCurPassword3), static_cast<QWidget*>(ui->pushButtonApply3)}) {
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    }
    ui->tabWidget->setCurrentWidget(ui->tabSettings);
    ui->tabWidget->setCurrentWidget(ui->tabSource);
    QTest::qWait(300);
    QCOMPARE(boxes.Texts().size(), 1);
    QCOMPARE(CountStartingWith(log.Messages(), kHttpSent), 1);
    QVERIFY(!ui->pushButtonApply3->isEnabled());
}

void SettingsDialogTest::LaterFirstShowWaitsForOutstandingReply()
{
    LogCapture log;
    MessageBoxWatcher boxes;
    SettingsDialog dialog(RefusingDevice(), nullptr);
    Ui::SettingsDialog* ui = dialog.Form();

    // Zones and Grid are shown before the source reply is in: their loads
    // wait, and each reply reaches the page that asked for it.
    ui->tabWidget->setCurrentWidget(ui->tabZones);
    ui->tabWidget->setCurrentWidget(ui->tabGrid);
    ui->tabWidget->setCurrentWidget(ui->tabZones);
    QTRY_COMPARE(boxes.Texts().size(), 3);
    QTest::qWait(200);
    QCOMPARE(boxes.Texts().size(), 3);

    std::vector<std::string> flow;
    for (const std::string& m : log.Messages()) {
        if (m.rfind(kHttpSent, 0) == 0 || m.rfind("HTTP request failed, waitReplyType", 0) == 0) {
            flow.push_back(m);
        }
    }
    const std::vector<std::string> expected = {
        "Will send HTTP request to URL http://127.0.0.1/qel-cgi/admin/getcam.fcgi",
        std::string("HTTP request failed, waitReplyType: 1, message: ") + kRefused,
        "Will send HTTP request to URL http://127.0.0.1/qel-cgi/admin/getconfig.fcgi",
        std::string("HTTP request failed, waitReplyType: 3, message: ") + kRefused,
        "Will send HTTP request to URL http://127.0.0.1/qel-cgi/admin/getconfig.fcgi",
        std::string("HTTP request failed, waitReplyType: 6, message: ") + kRefused,
    };
    QCOMPARE(flow, expected);

    // The grid's camera position was never loaded.
    QVERIFY(!ui->spinBoxFieldOfView->isEnabled());
    QVERIFY(!ui->horizontalSliderCameraHeight->isEnabled());
}

void SettingsDialogTest::DisplayErrorLogsReportsAndShowsBox()
{
    MessageBoxWatcher boxes;
    SettingsDialog dialog(RefusingDevice(), nullptr);
    QTRY_COMPARE(boxes.Texts().size(), 1);
    boxes.Clear();

    LogCapture log;
    QSignalSpy status(&dialog, SIGNAL(StatusChanged(const QString&, int)));
    dialog.DisplayError(QStringLiteral("Something went wrong"));
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Something went wrong")});
    QCOMPARE(boxes.Titles(), QStringList{QStringLiteral("Error")});
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Something went wrong"));
    QCOMPARE(status.at(0).at(1).toInt(), 0);
    QCOMPARE(CountStartingWith(log.Messages(), "Something went wrong"), 2); // ERROR and verbose

    // Text a device sent shows in the status line's tool tip as it is, cut.
    const QString markup =
        QStringLiteral("<b>busy</b><img src=\"x\"> &amp; ") + QString(400, QLatin1Char('x'));
    dialog.DisplayError(markup);
    QCOMPARE(ToolTipShows(dialog.Form()->labelStatus->toolTip()), ShownText(markup));
    QVERIFY(ShownText(markup).size() < markup.size());
}

void SettingsDialogTest::Md5DigestOfPassword()
{
    // RFC 1321 test vectors; an empty password has a digest too, and a
    // password is digested as its UTF-8 bytes.
    const auto empty = utils::GetMD5Hash(nullptr, 0);
    QVERIFY(empty);
    QCOMPARE(Hex(empty.get(), 16), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    const QByteArray abc("abc");
    const auto digest = utils::GetMD5Hash(abc.constData(), static_cast<size_t>(abc.size()));
    QCOMPARE(Hex(digest.get(), 16), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    const QByteArray utf8 = QStringLiteral("пароль").toUtf8();
    const auto wide = utils::GetMD5Hash(utf8.constData(), static_cast<size_t>(utf8.size()));
    QCOMPARE(Hex(wide.get(), 16), QStringLiteral("e242f36f4f95f12966da8fa2efd59992"));
}

void SettingsDialogTest::ShowsItsDeviceAndEveryStatusText()
{
    MessageBoxWatcher boxes;
    SettingsDialog dialog(RefusingDevice(), nullptr);
    Ui::SettingsDialog* ui = dialog.Form();
    QCOMPARE(ui->labelDevice->text(),
             QStringLiteral("Device: Entrance Ω    IP address: 127.0.0.1    "
                            "MAC address: 02-51-45-4C-00-01    Serial number: SN-0042"));
    QCOMPARE(ui->labelDevice->textFormat(), Qt::PlainText);
    QCOMPARE(ui->labelStatus->textFormat(), Qt::PlainText);

    // The refused source load: in the status line, in the error colour.
    QTRY_COMPARE(ui->labelStatus->text(), QString::fromLatin1(kSourceRefused));
    const QColor normal = dialog.palette().color(QPalette::WindowText);
    QVERIFY(ui->labelStatus->palette().color(QPalette::WindowText) != normal);

    // A page's status text replaces its tab's in the normal colour.
    ui->tabWidget->setCurrentWidget(ui->tabZones);
    QTRY_COMPARE(boxes.Texts().size(), 2); // the zones' refused load
    QSignalSpy status(&dialog, SIGNAL(StatusChanged(const QString&, int)));
    ui->pushButtonAddZone->click();
    QCOMPARE(status.size(), 1);
    QCOMPARE(ui->labelStatus->text(), status.at(0).at(0).toString());
    QCOMPARE(ui->labelStatus->palette().color(QPalette::WindowText), normal);
}

// Each tab keeps its own latest status: an error of one tab never shows on
// another, and a button that starts an action clears its tab's status.
void SettingsDialogTest::StatusLineShowsTheCurrentTabsLatestStatus()
{
    MessageBoxWatcher boxes;
    SettingsDialog dialog(RefusingDevice(), nullptr);
    Ui::SettingsDialog* ui = dialog.Form();
    QLabel* line = ui->labelStatus;
    QTRY_COMPARE(line->text(), QString::fromLatin1(kSourceRefused));

    ui->tabWidget->setCurrentWidget(ui->tabSettings);
    QVERIFY(line->text().isEmpty());
    QVERIFY(line->toolTip().isEmpty());
    dialog.DisplayError(QStringLiteral("Settings failure"));
    QCOMPARE(line->text(), QStringLiteral("Settings failure"));

    // The Grid tab shows only its own load's failure, once it has come.
    ui->tabWidget->setCurrentWidget(ui->tabGrid);
    QVERIFY(line->text().isEmpty());
    QTRY_VERIFY(line->text().startsWith(QStringLiteral("Loading the analytics configuration failed: ")));

    ui->tabWidget->setCurrentWidget(ui->tabSettings);
    QCOMPARE(line->text(), QStringLiteral("Settings failure"));
    QVERIFY(line->palette().color(QPalette::WindowText) != dialog.palette().color(QPalette::WindowText));
    // An apply starts: the old failure goes, and the refusal of the input
    // comes in a box only.
    ui->lineEditNewPassword->setText(QStringLiteral("one"));
    ui->lineEditNewPassword2->setText(QStringLiteral("two"));
    ui->pushButtonApply2->click();
    QCOMPARE(boxes.Texts().constLast(), QStringLiteral("Passwords are not equal"));
    QVERIFY(line->text().isEmpty());

    ui->tabWidget->setCurrentWidget(ui->tabSource);
    QCOMPARE(line->text(), QString::fromLatin1(kSourceRefused));
}

void SettingsDialogTest::FitsLaptopScreenWithEveryButtonReachable()
{
    MessageBoxWatcher boxes;
    {
        // Shown on this test's own screen, the dialog fits on it.
        SettingsDialog dialog(RefusingDevice(), nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(dialog.width() <= available.width() && dialog.height() <= available.height());
    }

    SettingsDialog dialog(RefusingDevice(), nullptr);
    Ui::SettingsDialog* ui = dialog.Form();
    dialog.FitToScreen(kLaptopScreen);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.height() < kLaptopScreen.height());
    QVERIFY(ShowsWhole(ui->buttonBox, &dialog, nullptr));

    for (int i = 0; i < ui->tabWidget->count(); ++i) {
        ui->tabWidget->setCurrentIndex(i);
        QWidget* page = ui->tabWidget->widget(i);
        auto* area = page->findChild<QScrollArea*>();
        QVERIFY2(area != nullptr, qPrintable(page->objectName()));
        const QList<QAbstractButton*> buttons = page->findChildren<QAbstractButton*>();
        QVERIFY(!buttons.isEmpty());
        for (QAbstractButton* button : buttons) {
            if (button->parent() == area) {
                continue; // the scroll area's own corner widgets
            }
            // A button above the scrolling part (the Grid page's hint) is in
            // sight without scrolling.
            const bool scrolls = area->widget()->isAncestorOf(button);
            if (scrolls) {
                area->ensureWidgetVisible(button);
                QCoreApplication::processEvents();
            }
            QVERIFY2(ShowsWhole(button, &dialog, scrolls ? area : nullptr), qPrintable(button->objectName()));
        }
    }
    // The views keep their size; their page scrolls.
    QCOMPARE(ui->videoWidget1->size(), QSize(720, 576));
    ui->tabWidget->setCurrentWidget(ui->tabZones);
    ui->scrollAreaZones->ensureWidgetVisible(ui->pushButtonConnect1);
    SaveScreenshot(&dialog, QStringLiteral("settings-dialog-1366x768.png"));
}

void SettingsDialogTest::EscapeAndCloseKeepUnfinishedZones()
{
    MessageBoxWatcher boxes;
    SettingsDialog dialog(RefusingDevice(), nullptr);
    Ui::SettingsDialog* ui = dialog.Form();
    dialog.FitToScreen(kLaptopScreen);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ui->tabWidget->setCurrentWidget(ui->tabZones);
    QTRY_COMPARE(boxes.Texts().size(), 2); // the refused source and zones loads
    QWidget* view = ui->videoWidget1;
    // The search window's status bar, wired as the window wires it.
    QStatusBar windowStatus;
    QVERIFY(
        QObject::connect(&dialog, &SettingsDialog::StatusChanged, &windowStatus, &QStatusBar::showMessage));
    // Add zone shows the drawing hint in both status lines; a zone cancelled
    // or closed takes it away from both.
    const auto addZone = [&] {
        ui->pushButtonAddZone->click();
        QVERIFY(ui->labelStatus->text().startsWith(QStringLiteral("Click the corners of the zone")));
        QCOMPARE(windowStatus.currentMessage(), ui->labelStatus->text());
    };
    const auto hintGone = [&] {
        return ui->labelStatus->text().isEmpty() && windowStatus.currentMessage().isEmpty();
    };
    addZone();

    // Escape drops the half-drawn zone and leaves the dialog open; so does a
    // right click. The next clicks start a zone of their own.
    viewmouse::Click(view, {100, 100});
    viewmouse::Click(view, {300, 100});
    QVERIFY(!hintGone());
    QTest::keyClick(view, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    QVERIFY(hintGone());
    addZone();
    viewmouse::Click(view, {100, 300});
    viewmouse::MoveTo(view, {300, 300});
    QTest::mouseClick(view, Qt::RightButton, Qt::NoModifier, {300, 300});
    QVERIFY(hintGone());
    addZone();
    viewmouse::DrawPolygon(view, {{400, 100}, {600, 100}, {500, 300}});
    QVERIFY(hintGone());
    QCOMPARE(ui->tableWidgetZones->rowCount(), 1);
    QCOMPARE(ui->tableWidgetZones->item(0, kZoneColumnPoints)->text().count(QLatin1Char(':')), 3);

    // A second zone under way, for the README.
    addZone();
    viewmouse::Click(view, {100, 350});
    viewmouse::Click(view, {300, 380});
    viewmouse::MoveTo(view, {250, 500});
    SaveScreenshot(&dialog, QStringLiteral("zone-being-drawn-status-line.png"));
    QTest::keyClick(view, Qt::Key_Escape);

    // With nothing being drawn, Escape asks before it closes over the
    // unapplied zone, as Close does: No keeps the dialog open, Yes closes it.
    const QString question = QStringLiteral("Discard the unapplied zone changes?");
    boxes.Clear();
    QTest::keyClick(view, Qt::Key_Escape);
    QCOMPARE(boxes.Texts(), QStringList{question});
    QVERIFY(dialog.isVisible());
    ui->buttonBox->button(QDialogButtonBox::Close)->click();
    QCOMPARE(boxes.Texts(), QStringList({question, question}));
    QVERIFY(dialog.isVisible());
    boxes.SetAnswer(QMessageBox::Yes);
    QTest::keyClick(view, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());

    // Without unapplied changes Escape closes as before.
    SettingsDialog plain(RefusingDevice(), nullptr);
    plain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    QTest::keyClick(&plain, Qt::Key_Escape);
    QVERIFY(!plain.isVisible());
}

void SettingsDialogTest::FailureWhileCloseAsksWaitsForTheAnswer()
{
    SettingsDialog dialog(RefusingDevice(), nullptr);
    Ui::SettingsDialog* ui = dialog.Form();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    {
        MessageBoxWatcher loads;
        ui->tabWidget->setCurrentWidget(ui->tabZones);
        QTRY_COMPARE(loads.Texts().size(), 2); // the refused source and zones loads
    }
    ui->pushButtonAddZone->click();
    viewmouse::DrawPolygon(ui->videoWidget1, {{400, 100}, {600, 100}, {500, 300}});

    // The grid's load fails while Close asks: the question stays alone, is
    // answered No once the failure is in, and the failure shows after it.
    const QString failure =
        QStringLiteral("Loading the analytics configuration failed: HTTP request failed: Connection refused");
    bool errorOverQuestion = false;
    QStringList errors;
    std::unique_ptr<QSignalSpy> status;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
        QMessageBox* question = nullptr;
        QMessageBox* error = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box != nullptr && box->isVisible()) {
                (box->button(QMessageBox::No) != nullptr ? question : error) = box;
            }
        }
        errorOverQuestion = errorOverQuestion || (question != nullptr && error != nullptr);
        if (error != nullptr) {
            errors << error->text();
            error->button(QMessageBox::Ok)->click();
        } else if (question != nullptr && status != nullptr && !status->isEmpty()) {
            question->button(QMessageBox::No)->click();
        }
    });
    answer.start(10);
    ui->tabWidget->setCurrentWidget(ui->tabGrid);
    status = std::make_unique<QSignalSpy>(&dialog, SIGNAL(StatusChanged(const QString&, int)));
    ui->buttonBox->button(QDialogButtonBox::Close)->click();
    QTRY_COMPARE(errors, QStringList{failure});
    QVERIFY(!errorOverQuestion);
    QVERIFY(dialog.isVisible());
}

void SettingsDialogTest::AddressFieldsFollowIpTypeAndBadAddressTakesFocus()
{
    MessageBoxWatcher boxes;
    SettingsDialog dialog(RefusingDevice(), nullptr);
    Ui::SettingsDialog* ui = dialog.Form();
    QTRY_COMPARE(boxes.Texts().size(), 1);
    boxes.Clear();
    const std::initializer_list<QLineEdit*> staticOnly = {ui->lineEditIpAddress, ui->lineEditNetMask,
                                                          ui->lineEditGateway};
    ui->comboBoxIpType->setCurrentIndex(DHCP);
    for (QLineEdit* field : staticOnly) {
        QVERIFY2(!field->isEnabled(), qPrintable(field->objectName()));
    }
    QVERIFY(ui->lineEditDns->isEnabled());
    ui->comboBoxIpType->setCurrentIndex(STATIC);

    // Static again: a bad gateway gets its message, nothing is sent, and the
    // field, enabled again, takes the focus.
    ui->lineEditGateway->setText(QStringLiteral("127.0.0.300"));
    ui->pushButtonApply1->click();
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Invalid gateway")});
    QCOMPARE(dialog.focusWidget(), ui->lineEditGateway);
    QVERIFY(ui->pushButtonApply1->isEnabled());

    // A DHCP device opens with the fields locked.
    DeviceNetworkParams params = RefusingDevice();
    params.connectionType = DHCP;
    SettingsDialog dhcp(params, nullptr);
    QVERIFY(!dhcp.Form()->lineEditIpAddress->isEnabled());
    QTRY_COMPARE(boxes.Texts().size(), 2);
}

void SettingsDialogTest::SilenceTextGoesWithTheNextPicture()
{
    DrawableView view(nullptr);
    SilentStreamWatch watch({&view}, nullptr);
    watch.Start();
    QTRY_COMPARE_WITH_TIMEOUT(view.overlayText(), QStringLiteral("No video for 3 s"), 5000);
    watch.PictureShown();
    QVERIFY(view.overlayText().isEmpty());
}

void SettingsDialogTest::TemplatePartChoiceNeedsAPartAndWarnsOfAnotherAspect()
{
    // Zones are relative to the picture: another aspect moves them, another
    // size of the same aspect (or a border of a few columns) does not.
    QCOMPARE(
        TemplateAspectWarning(QSize(1920, 1080), QSize(720, 576)),
        QStringLiteral("The template was taken from a 16:9 picture and this device's picture is 5:4; zones "
                       "are relative and may not fit"));
    QCOMPARE(TemplateAspectWarning(QSize(1920, 1080), QSize(1280, 720)), QString());
    QCOMPARE(TemplateAspectWarning(QSize(720, 576), QSize(704, 576)), QString());
    QCOMPARE(TemplateAspectWarning(QSize(), QSize(720, 576)), QString());
    QCOMPARE(TemplateAspectWarning(QSize(1920, 1080), QSize()), QString());

    const QString warning = QStringLiteral("<b>not bold</b>");
    TemplatePartsDialog dialog(nullptr, warning);
    QCOMPARE(Child<QLabel>(&dialog, "labelWarning")->text(), warning);
    QCOMPARE(Child<QLabel>(&dialog, "labelWarning")->textFormat(), Qt::PlainText);
    QAbstractButton* ok = Child<QDialogButtonBox>(&dialog, "buttonBox")->button(QDialogButtonBox::Ok);
    QVERIFY(ok->isEnabled());
    for (const char* name : {"checkBoxZones", "checkBoxClassifier", "checkBoxEncoder"}) {
        Child<QCheckBox>(&dialog, name)->setChecked(false);
    }
    QVERIFY(!ok->isEnabled());
    Child<QCheckBox>(&dialog, "checkBoxCamera")->setChecked(true);
    QVERIFY(ok->isEnabled());
    const std::vector<TemplatePart> chosen = dialog.Choice().Chosen();
    QCOMPARE(chosen.size(), size_t(1));
    QVERIFY(chosen.front() == TemplatePart::Camera);
    QVERIFY(TemplatePartsDialog(nullptr).findChild<QLabel*>(QStringLiteral("labelWarning")) == nullptr);
}

QTEST_MAIN(SettingsDialogTest)
#include "SettingsDialogTest.moc"
