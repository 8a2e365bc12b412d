// The analytics pages on the dialog's real form, driven by their widgets and
// by mouse input over the video views, sending to the simulator's web
// interface served in process on loopback.
#include "DrawableView.h"
#include "DeviceWebServer.h"
#include "NumberText.h"
#include "PagesForm.h"
#include "PolyLine.h"
#include "VCA.pb.h"
#include "VcaConfigReader.h"
#include "ViewMouse.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QLocale>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include <cfloat>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>

namespace {

const QString kMetres = QStringLiteral(" \u043C.");

// The simulator's web interface for one device, on a free loopback port.
class WebDevice final {
public:
    explicit WebDevice(bool rejectCredentials = false)
    {
        WebServerOptions options;
        options.bindAddress = "127.0.0.1";
        options.port = 0;
        options.rejectCredentials = rejectCredentials;
        server_ = std::make_unique<DeviceWebServer>(options, state_);
        std::string error;
        started_ = server_->Start(error);
    }
    bool Started() const { return started_; }
    int Port() const { return server_->Port(); }
    QByteArray ConfigText() const { return QByteArray::fromStdString(state_.ConfigText()); }
    ZonesMap Zones() const
    {
        ZonesMap zones;
        QString error;
        VcaConfigReader(ConfigText()).ReadZones(zones, error);
        return zones;
    }

private:
    VcaConfigState state_;
    std::unique_ptr<DeviceWebServer> server_;
    bool started_ = false;
};

QStringList ColumnTexts(QTableWidget* table, int column)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row) {
        texts << table->item(row, column)->text();
    }
    return texts;
}

QStringList RowTexts(QTableWidget* table)
{
    return ColumnTexts(table, kZoneColumnPoints);
}

// Three zones with names, the middle one off; the last name is too long to
// show whole over the picture.
const char kNamedZones[] = R"(Ch {
  zones { id: 1 points { x: 6553 y: 9000 } points { x: 30000 y: 9000 } points { x: 30000 y: 30000 }
          points { x: 6553 y: 30000 } enable: true name: "Entrance" style: POLYGON }
  zones { id: 2 points { x: 36000 y: 9000 } points { x: 60000 y: 9000 } points { x: 48000 y: 30000 }
          enable: false name: "Loading bay" style: POLYGON }
  zones { id: 3 points { x: 9000 y: 40000 } points { x: 58000 y: 40000 } points { x: 58000 y: 60000 }
          points { x: 9000 y: 60000 } enable: true
          name: "Staff car park along the north fence, rows A to F" style: POLYGON }
})";

QStringList ToStringList(const std::vector<QString>& paths)
{
    return QStringList(paths.begin(), paths.end());
}

int CountColour(const QImage& picture, const QRect& area, const QColor& colour)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            count += picture.pixelColor(x, y) == colour ? 1 : 0;
        }
    }
    return count;
}

QColor LabelColour(QLabel* label)
{
    return label->palette().color(QPalette::Window);
}

// The part of `widget` that its scroll area shows without being scrolled.
bool InSightUnscrolled(QWidget* widget, QScrollArea* area)
{
    const QRect rect(widget->mapTo(area->viewport(), QPoint(0, 0)), widget->size());
    return area->verticalScrollBar()->value() == 0 && area->viewport()->rect().contains(rect);
}

void SaveScreenshot(QWidget* widget, const QString& name)
{
    QDir().mkpath(QStringLiteral(QEL_SCREENSHOT_DIR));
    const QString path = QStringLiteral(QEL_SCREENSHOT_DIR "/") + name;
    QVERIFY(widget->grab().save(path));
    qInfo("screenshot: %s", qPrintable(path));
}

} // namespace

class PagesTest : public QObject {
    Q_OBJECT
private slots:
    void absoluteRelativeRoundTripKeepsEveryValue();
    void numberTextReadsBackAsTheSameDouble();
    void zonesAreDrawnEditedAndRemovedOverTheView();
    void crossingClosingClickIsRefusedAndSelectedZoneStandsOut();
    void namedZonesShowInTableAndViewAt1366x768();
    void undoTakesBackDrawingMoveAndRemoval();
    void applyZonesWritesExactlyThePageZones();
    void classifierSendsValidClassesWithPointDecimals();
    void classifierAppliesToTheDevice();
    void classifierNamesAValueItCannotSendAndSendsNothing();
    void cameraControlsFollowEachOtherWithoutLoops();
    void deviceCameraPositionLandsInTheControls();
    void rulersMeasureOnTheGroundAndMimicsStand();
    void cameraPositionIsApplied();
    void rejectedCredentialsEndEachApplyInOneError();
    void gridPageExplainsItsControls();
    void lengthLabelsKeepTheirWidth();
    void gridPageFitsALaptopScreen();
};

void PagesTest::absoluteRelativeRoundTripKeepsEveryValue()
{
    for (int a = 0; a <= 65535; ++a) {
        const auto value = static_cast<unsigned short>(a);
        if (RelativeToAbsolute(AbsoluteToRelative(value)) != value) {
            QFAIL(qPrintable(QStringLiteral("round trip changed %1").arg(a)));
        }
    }
    QCOMPARE(RelativeToAbsolute(0.0), static_cast<unsigned short>(0));
    QCOMPARE(RelativeToAbsolute(1.0), static_cast<unsigned short>(65535));
    // Truncated, not rounded.
    QCOMPARE(RelativeToAbsolute(0.99999), static_cast<unsigned short>(65534));
    QCOMPARE(ZoneRowText({{100, 200}, {3000, 200}, {3000, 4000}}),
             QStringLiteral("100,200:3000,200:3000,4000:"));
}

void PagesTest::numberTextReadsBackAsTheSameDouble()
{
    // Plain values read as they did with 'g'; the rest keep every digit.
    QCOMPARE(ExactNumberText(2), QStringLiteral("2"));
    QCOMPARE(ExactNumberText(2.25), QStringLiteral("2.25"));
    QCOMPARE(ExactNumberText(1234567), QStringLiteral("1234567"));
    QCOMPARE(ExactNumberText(0.123456789), QStringLiteral("0.123456789"));
    QCOMPARE(ExactNumberText(1e21), QStringLiteral("1e21"));
    for (const double value : {0.1, 1.0 / 3, -2.5e-7, 1e21, 123456789012345680.0, DBL_MAX, DBL_MIN, 5e-324}) {
        const QString text = ExactNumberText(value);
        bool ok = false;
        QCOMPARE(text.toDouble(&ok), value);
        QVERIFY(ok);
        QCOMPARE(std::strtod(text.toLatin1().constData(), nullptr), value);
    }
}

void PagesTest::zonesAreDrawnEditedAndRemovedOverTheView()
{
    PagesForm form(1);
    form.ShowTab(form.ui.tabZones);
    QWidget* view = form.ui.videoWidget1;
    QTableWidget* table = form.ui.tableWidgetZones;

    // Vertices at pixels (100,100), (300,100), (300,300) of the 720x576 picture.
    const ZonePoints loaded3{{9102, 11377}, {27306, 11377}, {27306, 34132}};
    const ZonePoints loaded9{{40000, 40000}, {60000, 40000}, {60000, 60000}};
    form.zones->setZones({{9, loaded9}, {3, loaded3}});
    QCOMPARE(RowTexts(table), QStringList({ZoneRowText(loaded3), ZoneRowText(loaded9)}));
    QCOMPARE(table->item(1, 0)->data(Qt::UserRole).toUInt(), 9u);

    // A zone drawn at the picture's corners; its id comes after the loaded ones.
    form.ui.pushButtonAddZone->click();
    viewmouse::DrawPolygon(view, {{0, 0}, {720, 0}, {720, 576}, {0, 576}});
    const ZonePoints corners{{0, 0}, {65535, 0}, {65535, 65535}, {0, 65535}};
    QCOMPARE(form.zones->Zones().size(), size_t(3));
    QVERIFY(form.zones->Zones().at(10) == corners);
    QVERIFY(form.zones->Zones().at(3) == loaded3);
    QCOMPARE(table->item(2, 0)->data(Qt::UserRole).toUInt(), 10u);

    // Dragging one vertex changes only that vertex of that zone.
    viewmouse::Drag(view, {300, 300}, {400, 350});
    const ZonePoints dragged3{{9102, 11377}, {27306, 11377}, {36408, 39821}};
    QVERIFY(form.zones->Zones().at(3) == dragged3);
    QCOMPARE(RowTexts(table),
             QStringList({ZoneRowText(dragged3), ZoneRowText(loaded9), ZoneRowText(corners)}));

    // A drag that turns the triangle over (a triangle cannot cross itself)
    // reaches the table too.
    viewmouse::Drag(view, {100, 100}, {350, 400});
    const std::pair<unsigned short, unsigned short> turnedOver(31857, 45510);
    QVERIFY(form.zones->Zones().at(3).front() == turnedOver);

    // The first selected row is removed; without a selection nothing is.
    table->clearSelection();
    form.ui.pushButtonRemoveZone->click();
    QCOMPARE(form.zones->Zones().size(), size_t(3));
    table->selectRow(1);
    form.ui.pushButtonRemoveZone->click();
    QCOMPARE(form.zones->Zones().count(9), size_t(0));
    QCOMPARE(table->rowCount(), 2);

    // A new drawing after a reload still never takes a loaded id.
    form.zones->setZones({{5, loaded9}});
    viewmouse::DrawPolygon(view, {{50, 50}, {200, 50}, {120, 200}});
    QCOMPARE(form.zones->Zones().count(11), size_t(1));
    QCOMPARE(form.zones->Zones().count(5), size_t(1));
    SaveScreenshot(&form.dialog, QStringLiteral("zones-tab-drawn-zone-no-video.png"));

    // The device used the largest id there is: the next free one is taken.
    form.zones->setZones({{0, loaded3}, {4294967295u, loaded9}});
    viewmouse::DrawPolygon(view, {{50, 50}, {200, 50}, {120, 200}});
    QCOMPARE(form.zones->Zones().size(), size_t(3));
    QVERIFY(form.zones->Zones().at(0) == loaded3);
    QCOMPARE(form.zones->Zones().count(1), size_t(1));
}

void PagesTest::crossingClosingClickIsRefusedAndSelectedZoneStandsOut()
{
    PagesForm form(1);
    form.ShowTab(form.ui.tabZones);
    QWidget* view = form.ui.videoWidget1;
    form.ui.pushButtonAddZone->click();

    // A "Z" of three edges: closing it would cross its diagonal. The click
    // is refused and the zone stays under creation until a right click
    // cancels it.
    viewmouse::DrawPolygon(view, {{100, 100}, {600, 100}, {100, 500}, {600, 500}});
    QVERIFY(form.zones->Zones().empty());
    QTest::mouseClick(view, Qt::RightButton, Qt::NoModifier, {300, 300});
    viewmouse::DrawPolygon(view, {{100, 100}, {600, 100}, {600, 500}, {100, 500}});
    QCOMPARE(form.zones->Zones().size(), size_t(1));
    QCOMPARE(form.zones->Zones().begin()->second.size(), size_t(4));

    // Selecting the zone's row draws its polygon in its own colour.
    const QColor highlight(255, 255, 0);
    const QRect topEdge(300, 95, 100, 10);
    QCOMPARE(CountColour(view->grab().toImage(), topEdge, highlight), 0);
    form.ui.tableWidgetZones->selectRow(0);
    QVERIFY(CountColour(view->grab().toImage(), topEdge, highlight) > 0);
    form.ui.tableWidgetZones->clearSelection();
    QCOMPARE(CountColour(view->grab().toImage(), topEdge, highlight), 0);
}

void PagesTest::namedZonesShowInTableAndViewAt1366x768()
{
    PagesForm form(1);
    form.dialog.resize(1366, 768);
    form.ShowTab(form.ui.tabZones);
    auto* view = qobject_cast<DrawableView*>(form.ui.videoWidget1);
    QImage picture(720, 576, QImage::Format_RGB32);
    picture.fill(QColor(60, 66, 72)); // as dark as a picture of a yard
    view->setImage(picture);
    QVERIFY(form.zones->TakeConfig(VcaConfigReader(QByteArray(kNamedZones))).isEmpty());

    QTableWidget* table = form.ui.tableWidgetZones;
    QStringList headers;
    for (int column = 0; column < table->columnCount(); ++column) {
        headers << table->horizontalHeaderItem(column)->text();
    }
    QCOMPARE(headers, QStringList({QStringLiteral("Name"), QStringLiteral("On"),
                                   QStringLiteral("Absolute coordinates")}));
    QCOMPARE(ColumnTexts(table, kZoneColumnName),
             QStringList({QStringLiteral("Entrance"), QStringLiteral("Loading bay"),
                          QStringLiteral("Staff car park along the north fence, rows A to F")}));
    QCOMPARE(ColumnTexts(table, kZoneColumnOn),
             QStringList({QStringLiteral("yes"), QStringLiteral("no"), QStringLiteral("yes")}));
    QCOMPARE(table->item(0, kZoneColumnPoints)->text(),
             QStringLiteral("6553,9000:30000,9000:30000,30000:6553,30000:"));

    // Each zone in its own colour, lightly filled; the zone that is off is
    // dashed; the name sits at the first corner, the long one elided.
    const QImage shown = view->grab().toImage();
    const QRect entranceTop(100, 77, 200, 4);
    QVERIFY(CountColour(shown, entranceTop, ZoneColour(1)) > 190);
    const QRect bayTop(405, 77, 90, 4); // 180 pixels of a solid line
    const int bayDashes = CountColour(shown, bayTop, ZoneColour(2));
    QVERIFY2(bayDashes > 30 && bayDashes < 160, qPrintable(QString::number(bayDashes)));
    const QColor inside = shown.pixelColor(200, 200);
    QVERIFY(inside != picture.pixelColor(200, 200) && inside != ZoneColour(1));
    const int nameEnd = 100 + PolyLine::kLabelMaxWidth + 20; // from the corner at (98, 351)
    QVERIFY(CountColour(shown, QRect(110, 320, nameEnd - 110, 30), ZoneColour(3)) > 10);
    QCOMPARE(CountColour(shown, QRect(nameEnd, 320, 600 - nameEnd, 30), ZoneColour(3)), 0);
    SaveScreenshot(&form.dialog, QStringLiteral("zones-1366x768.png"));
}

void PagesTest::undoTakesBackDrawingMoveAndRemoval()
{
    PagesForm form(1);
    form.ShowTab(form.ui.tabZones);
    QVERIFY(QTest::qWaitForWindowActive(&form.dialog));
    QWidget* view = form.ui.videoWidget1;
    QTableWidget* table = form.ui.tableWidgetZones;
    const auto undo = [&] { QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier); };
    const auto drawn = [&](const QRect& area, unsigned int id) {
        return CountColour(view->grab().toImage(), area, ZoneColour(id)) > 0;
    };
    // Zone 3's right edge runs through (300, 200), zone 9's top edge through
    // (550, 351); the drawn zone 10's top edge through (550, 50).
    const QRect edge3(296, 195, 8, 10);
    const QRect edge9(545, 347, 10, 8);
    const QRect edge10(545, 46, 10, 8);
    const ZonePoints loaded3{{9102, 11377}, {27306, 11377}, {27306, 34132}};
    const ZonePoints loaded9{{40000, 40000}, {60000, 40000}, {60000, 60000}};
    form.zones->setZones({{3, loaded3}, {9, loaded9}});
    const ZonesMap loaded = form.zones->Zones();

    table->selectRow(1);
    form.ui.pushButtonRemoveZone->click();
    form.ui.pushButtonAddZone->click();
    viewmouse::DrawPolygon(view, {{450, 50}, {650, 50}, {550, 200}});
    viewmouse::Drag(view, {300, 300}, {400, 350});
    QCOMPARE(form.zones->Zones().size(), size_t(2));
    QVERIFY(!drawn(edge3, 3) && !drawn(edge9, 9) && drawn(edge10, 10));

    undo();
    QVERIFY(form.zones->Zones().at(3) == loaded3);
    QCOMPARE(RowTexts(table).first(), ZoneRowText(loaded3));
    QVERIFY(drawn(edge3, 3));
    undo();
    QCOMPARE(form.zones->Zones().count(10), size_t(0));
    QCOMPARE(table->rowCount(), 1);
    QVERIFY(!drawn(edge10, 10));
    undo();
    QVERIFY(form.zones->Zones() == loaded);
    QCOMPARE(ColumnTexts(table, kZoneColumnName),
             QStringList({QStringLiteral("Zone_3"), QStringLiteral("Zone_9")}));
    QVERIFY(drawn(edge9, 9));
    QVERIFY(!form.zones->HasUnappliedChanges());

    // A load starts the history anew: nothing from before it comes back.
    table->selectRow(0);
    form.ui.pushButtonRemoveZone->click();
    form.zones->setZones({{5, loaded9}});
    undo();
    QCOMPARE(form.zones->Zones().size(), size_t(1));
    QCOMPARE(form.zones->Zones().count(5), size_t(1));

    // A load that lands while a corner is dragged: the dragged shape is no
    // longer the page's, and the zones loaded stay as they came.
    viewmouse::Press(view, {439, 351});
    const ZonesMap reloaded{{4, loaded9}, {7, loaded3}};
    form.zones->setZones(reloaded);
    viewmouse::MoveTo(view, {200, 250});
    viewmouse::Release(view, {200, 250});
    QVERIFY(form.zones->Zones() == reloaded);
}

void PagesTest::applyZonesWritesExactlyThePageZones()
{
    WebDevice device;
    QVERIFY(device.Started());
    PagesForm form(device.Port());
    form.ShowTab(form.ui.tabZones);
    QSignalSpy status(form.zones, &DevicePage::StatusChanged);
    QSignalSpy errors(form.zones, &DevicePage::ErrorOccurred);

    form.zones->setZones(device.Zones());
    QCOMPARE(form.zones->Zones().size(), size_t(1));
    form.ui.pushButtonAddZone->click();
    viewmouse::DrawPolygon(form.ui.videoWidget1, {{400, 300}, {700, 300}, {550, 560}});
    const ZonePoints drawn{{36408, 34132}, {63714, 34132}, {50061, 63714}};
    QCOMPARE(form.zones->Zones().size(), size_t(2));
    QVERIFY(form.zones->Zones().rbegin()->second == drawn);
    QCOMPARE(form.zones->ApplyCommands().back(),
             QStringLiteral("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=zone&id=2&enable=yes"
                            "&name=Zone_2&points=36408:34132,63714:34132,50061:63714,"));

    status.clear(); // the drawing hint of "Add Zone"
    form.ui.pushButtonApplyZones->click();
    QCOMPARE(errors.count(), 0);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Zones were applied"));
    QVERIFY(device.Zones() == form.zones->Zones());

    // With no zones left only the removal goes out, and the device keeps none.
    for (int i = 0; i < 2; ++i) {
        form.ui.tableWidgetZones->selectRow(0);
        form.ui.pushButtonRemoveZone->click();
    }
    QCOMPARE(ToStringList(form.zones->ApplyCommands()),
             QStringList({QStringLiteral("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Zn*")}));
    form.ui.pushButtonApplyZones->click();
    QVERIFY(device.Zones().empty());
    QCOMPARE(errors.count(), 0);
}

void PagesTest::classifierSendsValidClassesWithPointDecimals()
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    PagesForm form(1);
    const QString remove = QStringLiteral("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Obj*");
    const QString add = QStringLiteral("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=objectclass&");
    QCOMPARE(ToStringList(form.classifier->ApplyCommands()),
             QStringList({QStringLiteral("/qel-cgi/admin/setzonetimeout.fcgi?timeout=15"), remove,
                          add + QStringLiteral("minArea=2&maxArea=2.25&minHeight=1&maxHeight=2.25")}));

    // Class 1 invalid three ways in turn; class 2 with a zero minimum area is
    // sent; class 3 has decimal commas (not numbers); class 4 is large.
    form.ui.tTimeout->setText(QStringLiteral("abc"));
    form.ui.tObject1MaxArea->setText(QStringLiteral("2.0"));
    form.ui.tObject2MinArea->setText(QStringLiteral("0"));
    form.ui.tObject2MaxArea->setText(QStringLiteral("1"));
    form.ui.tObject2MinHeight->setText(QStringLiteral("0.5"));
    form.ui.tObject2MaxHeight->setText(QStringLiteral("2"));
    form.ui.tObject3MinArea->setText(QStringLiteral("0,5"));
    form.ui.tObject3MaxArea->setText(QStringLiteral("1,5"));
    form.ui.tObject3MinHeight->setText(QStringLiteral("1"));
    form.ui.tObject3MaxHeight->setText(QStringLiteral("1,8"));
    form.ui.tObject4MinArea->setText(QStringLiteral("12.5"));
    form.ui.tObject4MaxArea->setText(QStringLiteral("1234567"));
    form.ui.tObject4MinHeight->setText(QStringLiteral("0.25"));
    form.ui.tObject4MaxHeight->setText(QStringLiteral("3.5"));
    const QStringList expected{
        remove, add + QStringLiteral("minArea=0&maxArea=1&minHeight=0.5&maxHeight=2"),
        add + QStringLiteral("minArea=12.5&maxArea=1234567&minHeight=0.25&maxHeight=3.5")};
    QCOMPARE(ToStringList(form.classifier->ApplyCommands()), expected);
    form.ui.tObject1MaxArea->setText(QStringLiteral("2.25"));
    form.ui.tObject1MinHeight->setText(QStringLiteral("0"));
    QCOMPARE(ToStringList(form.classifier->ApplyCommands()), expected);
    form.ui.tObject1MinHeight->setText(QStringLiteral("2.25"));
    QCOMPARE(ToStringList(form.classifier->ApplyCommands()), expected);

    form.ui.tTimeout->setText(QStringLiteral("0"));
    QCOMPARE(form.classifier->ApplyCommands().front(), remove);
    form.ui.tTimeout->setText(QStringLiteral("-5"));
    QCOMPARE(form.classifier->ApplyCommands().front(),
             QStringLiteral("/qel-cgi/admin/setzonetimeout.fcgi?timeout=-5"));
    QCOMPARE(getDoubleFromLabel(form.ui.tObject3MaxHeight), 0.0);
    QCOMPARE(getIntFromLabel(form.ui.tObject4MinArea), 0);
    QLocale::setDefault(saved);
}

void PagesTest::classifierAppliesToTheDevice()
{
    WebDevice device;
    QVERIFY(device.Started());
    PagesForm form(device.Port());
    QSignalSpy status(form.classifier, &DevicePage::StatusChanged);
    QVERIFY(!form.ui.bApplyClassifierAndTimeout->isEnabled());
    QVERIFY(form.classifier->TakeConfig(VcaConfigReader(device.ConfigText())).isEmpty());
    QCOMPARE(form.ui.tTimeout->text(), QStringLiteral("60"));
    form.ui.tTimeout->setText(QStringLiteral("15"));
    form.ui.tObject1MinArea->setText(QStringLiteral("2.0"));
    form.ui.tObject1MaxArea->setText(QStringLiteral("2.25"));
    form.ui.tObject1MinHeight->setText(QStringLiteral("1"));
    form.ui.tObject1MaxHeight->setText(QStringLiteral("2.25"));
    form.ui.bApplyClassifierAndTimeout->click();
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Classifier settings were applied"));
    VCA vca;
    QVERIFY(VcaConfigReader(device.ConfigText()).Config().ch_size() == 1);
    vca.CopyFrom(VcaConfigReader(device.ConfigText()).Config());
    QCOMPARE(vca.ch(0).timeout(), 15u);
    QCOMPARE(vca.ch(0).objectclasses_size(), 1);
    QCOMPARE(vca.ch(0).objectclasses(0).minarea(), 2.0);
    QCOMPARE(vca.ch(0).objectclasses(0).maxarea(), 2.25);
    QCOMPARE(vca.ch(0).objectclasses(0).minheight(), 1.0);
    QCOMPARE(vca.ch(0).objectclasses(0).maxheight(), 2.25);

    // Every class cleared: the device keeps none.
    for (QLineEdit* field : {form.ui.tObject1MinArea, form.ui.tObject1MaxArea, form.ui.tObject1MinHeight,
                             form.ui.tObject1MaxHeight}) {
        field->clear();
    }
    form.ui.bApplyClassifierAndTimeout->click();
    QCOMPARE(VcaConfigReader(device.ConfigText()).Config().ch(0).objectclasses_size(), 0);
}

void PagesTest::classifierNamesAValueItCannotSendAndSendsNothing()
{
    WebDevice device;
    QVERIFY(device.Started());
    PagesForm form(device.Port());
    form.ShowTab(form.ui.tabClassifier);
    form.classifier->SetClassifier({15, {{2.0, 2.25, 1.0, 2.25}}});
    const QByteArray before = device.ConfigText();
    QSignalSpy status(form.classifier, &DevicePage::StatusChanged);
    QSignalSpy errors(form.classifier, &DevicePage::ErrorOccurred);

    // A half-filled class, then a timeout that is not a whole number.
    form.ui.tObject2MinHeight->setText(QStringLiteral("1"));
    form.ui.bApplyClassifierAndTimeout->click();
    form.ui.tObject2MinHeight->clear();
    form.ui.tObject1MaxHeight->setText(QStringLiteral("0.5"));
    form.ui.bApplyClassifierAndTimeout->click();
    QCOMPARE(form.dialog.focusWidget(), form.ui.tObject1MaxHeight);
    form.ui.tObject1MaxHeight->setText(QStringLiteral("2.25"));
    form.ui.tTimeout->setText(QStringLiteral("1.5"));
    form.ui.bApplyClassifierAndTimeout->click();

    QCOMPARE(errors.count(), 3);
    QCOMPARE(errors.at(0).at(0).toString(),
             QStringLiteral("Object class 2: the minimum area (m2.) is not a number"));
    QCOMPARE(errors.at(1).at(0).toString(),
             QStringLiteral("Object class 1: the maximum height (m.) must be above the minimum height"));
    QVERIFY(errors.at(2).at(0).toString().startsWith(QStringLiteral("Zone detection timeout (s.) must be")));
    QCOMPARE(status.count(), 0);
    QCOMPARE(device.ConfigText(), before);
}

void PagesTest::cameraControlsFollowEachOtherWithoutLoops()
{
    PagesForm form(1);
    QCOMPARE(form.ui.spinBoxFieldOfView->value(), 36);
    QCOMPARE(form.ui.horizontalSliderFieldOfView->value(), 36);
    QCOMPARE(form.ui.spinBoxCameraAngle->value(), 13);
    QCOMPARE(form.ui.doubleSpinBoxCameraHeight->value(), 3.0);
    QCOMPARE(form.ui.horizontalSliderCameraHeight->value(), 30);

    form.ui.doubleSpinBoxCameraHeight->setValue(3.55);
    QCOMPARE(form.ui.horizontalSliderCameraHeight->value(), 35);
    QCOMPARE(form.ui.doubleSpinBoxCameraHeight->value(), 3.55);
    QCOMPARE(form.camera->GetCamera().getHeight(), 3.55);
    form.ui.horizontalSliderCameraHeight->setValue(36);
    QCOMPARE(form.ui.doubleSpinBoxCameraHeight->value(), 3.6);
    form.ui.horizontalSliderCameraHeight->setValue(0); // below the spin box's 0.1
    QCOMPARE(form.ui.doubleSpinBoxCameraHeight->value(), 0.1);
    QCOMPARE(form.ui.horizontalSliderCameraHeight->value(), 1);

    form.ui.horizontalSliderFieldOfView->setValue(45);
    QCOMPARE(form.ui.spinBoxFieldOfView->value(), 45);
    form.ui.spinBoxCameraAngle->setValue(12);
    QCOMPARE(form.ui.horizontalSliderCameraAngle->value(), 12);
    QCOMPARE(qRound(form.camera->GetCamera().getFOV()), 45);
    QCOMPARE(qRound(form.camera->GetCamera().getAngle()), 12);
    form.ui.spinBoxCameraAngle->setValue(95);
    QCOMPARE(form.ui.spinBoxCameraAngle->value(), 89);
}

void PagesTest::deviceCameraPositionLandsInTheControls()
{
    PagesForm form(1);
    form.camera->setCampos(18, 10, 3);
    QCOMPARE(form.ui.spinBoxFieldOfView->value(), 18);
    QCOMPARE(form.ui.horizontalSliderFieldOfView->value(), 18);
    QCOMPARE(form.ui.spinBoxCameraAngle->value(), 10);
    QCOMPARE(form.ui.horizontalSliderCameraAngle->value(), 10);
    QCOMPARE(form.ui.doubleSpinBoxCameraHeight->value(), 3.0);
    QCOMPARE(form.ui.horizontalSliderCameraHeight->value(), 30);
    QCOMPARE(qRound(form.camera->GetCamera().getFOV()), 18);

    // Values no control can hold, as a device could send them, end at the
    // controls' bounds or leave the control as it was, and the status line
    // names each.
    QSignalSpy status(form.camera, &DevicePage::StatusChanged);
    form.camera->setCampos(4e9, -7, std::numeric_limits<double>::quiet_NaN());
    QCOMPARE(form.ui.spinBoxFieldOfView->value(), 89);
    QCOMPARE(form.ui.spinBoxCameraAngle->value(), 1);
    QCOMPARE(form.ui.doubleSpinBoxCameraHeight->value(), 3.0);
    QCOMPARE(status.count(), 1);
    QCOMPARE(
        status.at(0).at(0).toString(),
        QStringLiteral("The device's field of view 4000000000 is outside 1\u201389; Apply would write 89. "
                       "The device's tilt -7 is outside 1\u201389; Apply would write 1. "
                       "The device's height nan m is outside 0.1\u201340 m; Apply would write 3 m"));
    form.camera->setCampos(36, 13, 45);
    QCOMPARE(form.ui.doubleSpinBoxCameraHeight->value(), 40.0);
    QCOMPARE(form.ui.horizontalSliderCameraHeight->value(), 400);
    QCOMPARE(status.last().at(0).toString(),
             QStringLiteral("The device's height 45 m is outside 0.1\u201340 m; Apply would write 40 m"));
    form.camera->setCampos(89, 1, 0.1);
    QCOMPARE(status.count(), 2);
}

void PagesTest::rulersMeasureOnTheGroundAndMimicsStand()
{
    PagesForm form(1);
    form.ShowTab(form.ui.tabGrid);
    auto* view = form.ui.videoWidget2;
    QCOMPARE(form.ui.lbRulerSize1->text(), QStringLiteral("0  ") + kMetres.mid(1));

    // Line 1 from the picture centre to the middle of the bottom edge.
    form.ui.pushButtonAddLine1->click();
    viewmouse::Click(view, {360, 288});
    viewmouse::MoveTo(view, {360, 500});
    const QString whileDrawing = form.ui.lbRulerSize1->text();
    viewmouse::Click(view, {360, 576});
    QVERIFY(whileDrawing != form.ui.lbRulerSize1->text());
    QCOMPARE(form.ui.lbRulerSize1->text(), QStringLiteral("8.00") + kMetres);

    // The ruler is drawn in its label's colour, over the grid's centre line.
    QImage picture = view->grab().toImage();
    QCOMPARE(picture.pixelColor(360, 420), QColor(241, 20, 18));

    // Line 3 dragged by one end; the camera changes every length.
    form.ui.pushButtonAddLine3->click();
    viewmouse::Click(view, {100, 500});
    viewmouse::Click(view, {600, 500});
    const QString line3 = form.ui.lbRulerSize3->text();
    viewmouse::Drag(view, {600, 500}, {650, 500});
    QVERIFY(form.ui.lbRulerSize3->text() != line3);
    // Above the horizon (y 83 here) the picture shows no ground to measure.
    const QString dragged = form.ui.lbRulerSize3->text();
    viewmouse::Drag(view, {650, 500}, {650, 60});
    QCOMPARE(form.ui.lbRulerSize3->text(), QStringLiteral("\u2014"));
    viewmouse::Drag(view, {650, 60}, {650, 500});
    QCOMPARE(form.ui.lbRulerSize3->text(), dragged);
    form.ui.doubleSpinBoxCameraHeight->setValue(6);
    QCOMPARE(form.ui.lbRulerSize1->text(), QStringLiteral("16.00") + kMetres);
    picture = view->grab().toImage();
    QCOMPARE(picture.pixelColor(400, 500), QColor(228, 150, 37));

    // A mimic, drawn in its label's colour, which no line shares; then a
    // second click with its tool does not move it.
    const QColor mimic1 = LabelColour(form.ui.labelMimic1);
    const QList<QColor> colours{mimic1, LabelColour(form.ui.labelMimic2), LabelColour(form.ui.lbRuler1),
                                LabelColour(form.ui.lbRuler2), LabelColour(form.ui.lbRuler3)};
    for (const QColor& colour : colours) {
        QCOMPARE(colours.count(colour), 1);
    }
    form.ui.pushButtonAddMimic1->click();
    viewmouse::Click(view, {200, 400});
    viewmouse::Click(view, {500, 200});
    form.ui.doubleSpinBoxCameraHeight->setValue(3);
    form.ui.doubleSpinBoxMimic1->setValue(1.8);
    picture = view->grab().toImage();
    QVERIFY(CountColour(picture, QRect(190, 390, 21, 21), mimic1) > 0);
    QCOMPARE(CountColour(picture, QRect(490, 190, 21, 21), mimic1), 0);
    SaveScreenshot(&form.dialog, QStringLiteral("grid-tab-grid-mimic-ruler-no-video.png"));

    // Removing line 1 shows 0.00, and its tool is still lent: nothing else
    // happens until a click on the picture draws it anew.
    form.ui.pushButtonRemoveLine1->click();
    QCOMPARE(form.ui.lbRulerSize1->text(), QStringLiteral("0.00") + kMetres);
    form.ui.pushButtonRemoveLine1->click();
    QCOMPARE(form.ui.lbRulerSize1->text(), QStringLiteral("0.00") + kMetres);
    form.ui.pushButtonRemoveMimic1->click();
    picture = view->grab().toImage();
    QCOMPARE(CountColour(picture, QRect(190, 390, 21, 21), mimic1), 0);
    QCOMPARE(picture.pixelColor(360, 420), QColor(Qt::black)); // the grid's centre line again

    // A ruler cancelled half-way by a right click is gone; the next clicks
    // draw it anew from their own start.
    form.ui.pushButtonAddLine2->click();
    viewmouse::Click(view, {100, 300});
    viewmouse::MoveTo(view, {600, 300});
    QTest::mouseClick(view, Qt::RightButton, Qt::NoModifier, {600, 300});
    QCOMPARE(form.ui.lbRulerSize2->text(), QStringLiteral("0.00") + kMetres);
    viewmouse::Click(view, {360, 288});
    viewmouse::Click(view, {360, 576});
    QCOMPARE(form.ui.lbRulerSize2->text(), QStringLiteral("8.00") + kMetres);
}

void PagesTest::cameraPositionIsApplied()
{
    WebDevice device;
    QVERIFY(device.Started());
    PagesForm form(device.Port());
    QSignalSpy status(form.camera, &DevicePage::StatusChanged);
    // Nothing goes out before the device's position is loaded.
    const QByteArray before = device.ConfigText();
    form.ui.pushButtonApplyGrid->click();
    QCOMPARE(status.count(), 0);
    QCOMPARE(device.ConfigText(), before);

    // A height finer than the control's two decimals goes back as the
    // device holds it while its control is untouched.
    form.camera->setCampos(18, 10, 3.14159);
    form.ui.spinBoxFieldOfView->setValue(36);
    form.ui.spinBoxCameraAngle->setValue(13);
    QCOMPARE(form.camera->ApplyCommand(),
             QStringLiteral(
                 "/qel-cgi/admin/"
                 "vca.cgi?action=update&group=VCA.Ch0&object=campos&FOV=36&camangle=13&height=3.14159"));
    form.ui.pushButtonApplyGrid->click();
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Camera position was applied"));
    CamposValues campos;
    QString error;
    QVERIFY(VcaConfigReader(device.ConfigText()).ReadCampos(campos, error));
    QCOMPARE(campos.fov, 36.0);
    QCOMPARE(campos.camangle, 13.0);
    QCOMPARE(campos.heightMetres, 3.14159);

    form.ui.doubleSpinBoxCameraHeight->setValue(2.5);
    form.ui.spinBoxFieldOfView->setValue(50);
    form.ui.pushButtonApplyGrid->click();
    QVERIFY(VcaConfigReader(device.ConfigText()).ReadCampos(campos, error));
    QCOMPARE(campos.fov, 50.0);
    QCOMPARE(campos.heightMetres, 2.5);
}

void PagesTest::rejectedCredentialsEndEachApplyInOneError()
{
    WebDevice device(true);
    QVERIFY(device.Started());
    PagesForm form(device.Port());
    const VcaConfigReader config(device.ConfigText());
    QVERIFY(form.zones->TakeConfig(config).isEmpty() && form.classifier->TakeConfig(config).isEmpty());
    form.ui.tableWidgetZones->selectRow(0);
    form.ui.pushButtonRemoveZone->click(); // an unchanged set would not be sent
    form.ui.tTimeout->setText(QStringLiteral("30"));
    form.camera->setCampos(18, 10, 3);
    form.ui.spinBoxFieldOfView->setValue(20);
    const std::vector<std::pair<DevicePage*, QPushButton*>> applies{
        {form.zones, form.ui.pushButtonApplyZones},
        {form.classifier, form.ui.bApplyClassifierAndTimeout},
        {form.camera, form.ui.pushButtonApplyGrid}};
    for (const auto& [page, button] : applies) {
        QSignalSpy status(page, &DevicePage::StatusChanged);
        QSignalSpy errors(page, &DevicePage::ErrorOccurred);
        button->click();
        QCOMPARE(errors.count(), 1);
        // The camera position is one request; the others read the device
        // first, and send nothing when that fails.
        const QString error = errors.at(0).at(0).toString();
        QVERIFY2(page == form.camera ? error.startsWith(QStringLiteral("HTTP request failed"))
                                     : error.contains(QStringLiteral("nothing was sent, as the device's "
                                                                     "configuration could not be read: HTTP "
                                                                     "request failed")),
                 qPrintable(error));
        QCOMPARE(status.count(), 0);
    }
    QCOMPARE(VcaConfigReader(device.ConfigText()).Config().ch(0).zones_size(), 1);
}

void PagesTest::gridPageExplainsItsControls()
{
    PagesForm form(1);
    form.ShowTab(form.ui.tabGrid);
    QLabel* hint = form.ui.labelGridCalibrationHint;
    QVERIFY(hint->isVisible() && hint->wordWrap());
    QVERIFY(hint->text().startsWith(QStringLiteral("Match the grid to the ground")));
    QVERIFY(hint->mapTo(form.ui.tabGrid, QPoint()).y() <
            form.ui.labelFieldOfView->mapTo(form.ui.tabGrid, QPoint()).y());

    // Every control, and every label that names a marker or a line, says
    // what it is for.
    QList<QWidget*> explained{form.ui.labelFieldOfView, form.ui.labelCameraAngle, form.ui.labelCameraHeight,
                              form.ui.labelMimic1,      form.ui.labelMimic2,      form.ui.lbRuler1,
                              form.ui.lbRuler2,         form.ui.lbRuler3,         form.ui.lbRulerSize1};
    for (QWidget* widget : form.ui.tabGrid->findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractButton*>(widget) != nullptr ||
            qobject_cast<QAbstractSpinBox*>(widget) != nullptr ||
            (qobject_cast<QAbstractSlider*>(widget) != nullptr &&
             qobject_cast<QScrollBar*>(widget) == nullptr)) {
            explained << widget;
        }
    }
    for (QWidget* widget : explained) {
        QVERIFY2(!widget->toolTip().isEmpty(), qPrintable(widget->objectName()));
    }

    // Units.
    QCOMPARE(form.ui.labelCameraHeight->text(), QStringLiteral("Camera Height, m"));
    QVERIFY(form.ui.labelFieldOfView->text().endsWith(QStringLiteral("\u00B0")));
    QVERIFY(form.ui.labelCameraAngle->text().endsWith(QStringLiteral("\u00B0")));
    QCOMPARE(form.ui.doubleSpinBoxMimic1->suffix(), QStringLiteral(" m"));

    // Apply keeps saying what it writes once it is available.
    form.camera->setCampos(18, 10, 3);
    form.camera->EnableControls(true, true);
    QVERIFY(form.ui.pushButtonApplyGrid->isEnabled());
    QVERIFY(form.ui.pushButtonApplyGrid->toolTip().contains(QStringLiteral("camera height")));
}

void PagesTest::lengthLabelsKeepTheirWidth()
{
    PagesForm form(1);
    form.ShowTab(form.ui.tabGrid);
    QLayout* layout = form.ui.scrollAreaContentsGrid->layout();
    layout->activate();
    const QRect size = form.ui.lbRulerSize1->geometry();
    const QRect add = form.ui.pushButtonAddLine1->geometry();

    // Ends close to the horizon measure hundreds of kilometres.
    setLabelDistance(form.ui.lbRulerSize1, 888888.88);
    layout->invalidate();
    layout->activate();
    QCOMPARE(form.ui.lbRulerSize1->geometry(), size);
    QCOMPARE(form.ui.pushButtonAddLine1->geometry(), add);
    const QFontMetrics metrics = form.ui.lbRulerSize1->fontMetrics();
    QVERIFY(metrics.horizontalAdvance(form.ui.lbRulerSize1->text()) <=
            form.ui.lbRulerSize1->contentsRect().width());
}

void PagesTest::gridPageFitsALaptopScreen()
{
    PagesForm form(1);
    // As the dialog opens on a 1366x768 screen: no larger than the screen
    // less the window frame, its device line filled in, no address warning.
    form.dialog.resize(QSize(1366, 768) - QSize(16, 48));
    form.ui.labelDevice->setText(QStringLiteral("Device: Entrance    IP address: 192.168.1.20    "
                                                "MAC address: 02-51-45-4C-00-01    Serial number: SN-0042"));
    form.ui.labelSharedAddress->hide();
    form.ShowTab(form.ui.tabGrid);
    QVERIFY(form.ui.widgetGridHint->isVisible()); // the Connect hint, shown while no video is

    QScrollArea* area = form.ui.scrollAreaGrid;
    QTRY_VERIFY(area->widget()->width() == area->viewport()->width());
    QVERIFY(!area->horizontalScrollBar()->isVisible());
    for (QWidget* control :
         std::initializer_list<QWidget*>{form.ui.pushButtonConnect2, form.ui.pushButtonSnapshot2,
                                         form.ui.checkBoxStreamInfo2, form.ui.pushButtonApplyGrid}) {
        QVERIFY2(InSightUnscrolled(control, area), qPrintable(control->objectName()));
    }
    SaveScreenshot(&form.dialog, QStringLiteral("grid-1366x768.png"));

    // With the video connected the Connect hint goes, and the whole picture
    // is in sight.
    form.ui.widgetGridHint->hide();
    QTRY_VERIFY(InSightUnscrolled(form.ui.videoWidget2, area));
    QVERIFY(!area->horizontalScrollBar()->isVisible());
}

QTEST_MAIN(PagesTest)
#include "PagesTest.moc"
