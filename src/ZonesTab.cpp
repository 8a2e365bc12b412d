#include "ZonesTab.h"

#include "AssignmentVerifier.h"
#include "DrawableView.h"
#include "PolyLine.h"

#include <QColor>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QVariant>
#include <cmath>
#include <easylogging++.h>

namespace {

const AssignmentVerifier vf;

constexpr double kAbsoluteMax = 65535.0;

// The selected zone over live video: a colour and a width no other shape has.
const QColor kSelectedZoneColour(255, 255, 0);
constexpr int kSelectedZonePenWidth = 3;

} // namespace

unsigned short RelativeToAbsolute(double relative)
{
    // Truncation, not rounding: relative points come from absolute ones as
    // a / 65535, and truncating them back gives a again for every a.
    return static_cast<unsigned short>(std::trunc(kAbsoluteMax * relative));
}

double AbsoluteToRelative(unsigned short absolute)
{
    return absolute / kAbsoluteMax;
}

QString ZoneRowText(const ZonePoints& points)
{
    QString text;
    for (const auto& point : points) {
        text += QStringLiteral("%1,%2:").arg(point.first).arg(point.second);
    }
    return text;
}

ZonesTab::ZonesTab(QObject* dialog, HttpClientDialog* http, const Widgets& widgets)
    : DevicePage(dialog, http), widgets_(widgets), creationTool_(QColor(255, 255, 255, 255))
{
    QTableWidget* table = widgets_.table;
    table->setColumnCount(1);
    table->setHorizontalHeaderLabels({tr("Absolute coordinates")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setShowGrid(true);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    widgets_.applyZones->setEnabled(false);
    widgets_.applyZones->setToolTip(tr("The device's zones are being loaded"));

    vf = connect(widgets_.addZone, SIGNAL(clicked()), this, SLOT(onAddZone()));
    vf = connect(widgets_.removeZone, SIGNAL(clicked()), this, SLOT(onRemoveZone()));
    vf = connect(widgets_.applyZones, SIGNAL(clicked()), this, SLOT(OnApplyZones()));
    vf = connect(widgets_.view, SIGNAL(shapeCreated(std::shared_ptr<Drawable>)), this,
                 SLOT(onCreateZone(std::shared_ptr<Drawable>)));
    vf = connect(widgets_.view, SIGNAL(shapeEdited(Drawable*, Movable*)), this,
                 SLOT(onEditZone(Drawable*, Movable*)));
    vf = connect(table, SIGNAL(itemSelectionChanged()), this, SLOT(onZoneSelectionChanged()));
}

ZonesTab::~ZonesTab() = default;

void ZonesTab::setZones(const ZonesMap& zones)
{
    zones_ = zones;
    unapplied_ = false;
    if (!zones_.empty()) {
        const unsigned int largestId = zones_.rbegin()->first;
        if (largestId >= nextZoneId_) {
            nextZoneId_ = largestId + 1;
        }
    }
    showZones();
    widgets_.applyZones->setEnabled(true);
    widgets_.applyZones->setToolTip(QString());
}

QString ZonesTab::TakeConfig(const VcaConfigReader& reader)
{
    ZonesMap zones;
    QString errorMessage;
    if (!reader.ReadZones(zones, errorMessage)) {
        SetLoadFailed();
        return errorMessage;
    }
    VLOG(1) << "Zones of channel 0 loaded: " << zones.size();
    setZones(zones);
    return {};
}

void ZonesTab::SetLoadFailed()
{
    // The reason is in the error shown with the failure; a tool tip would
    // render device text as rich text.
    widgets_.applyZones->setEnabled(false);
    widgets_.applyZones->setToolTip(
        tr("The device's zones could not be loaded; reopen the dialog to try again"));
}

void ZonesTab::onAddZone()
{
    widgets_.view->setCreationTool(&creationTool_);
    emit StatusChanged(tr("Click the corners of the zone, then its first corner to close it; "
                          "Escape or a right click cancels"));
}

void ZonesTab::onCreateZone(std::shared_ptr<Drawable> shape)
{
    auto* polygon = dynamic_cast<PolyLine*>(shape.get());
    if (polygon == nullptr) {
        return;
    }
    ZonePoints points;
    for (const QPointF& vertex : polygon->getVertecles()) {
        points.emplace_back(RelativeToAbsolute(vertex.x()), RelativeToAbsolute(vertex.y()));
    }
    // Ids above the loaded ones are free unless the device used the very
    // largest id; then the next free one is taken.
    while (zones_.count(nextZoneId_) != 0) {
        ++nextZoneId_;
    }
    zones_[nextZoneId_++] = points;
    unapplied_ = true;
    showZones();
}

void ZonesTab::onEditZone(Drawable* shape, Movable* /*handle*/)
{
    unsigned int id = 0;
    auto* polygon = dynamic_cast<PolyLine*>(shape);
    if (polygon == nullptr || !ZoneIdOf(shape, id)) {
        return;
    }
    ZonePoints points;
    for (const QPointF& vertex : polygon->getVertecles()) {
        points.emplace_back(RelativeToAbsolute(vertex.x()), RelativeToAbsolute(vertex.y()));
    }
    if (zones_[id] != points) {
        zones_[id] = points;
        unapplied_ = true;
    }
    showZones();
}

bool ZonesTab::ZoneIdOf(const Drawable* shape, unsigned int& id) const
{
    // The user data points at the shape's zone table entry. It is compared
    // with the live entries, never read on its own: a table replaced while a
    // drag was under way leaves the dragged shape pointing at a freed entry.
    const void* data = shape->getData();
    for (const auto& entry : zones_) {
        if (static_cast<const void*>(&entry) == data) {
            id = entry.first;
            return true;
        }
    }
    return false;
}

void ZonesTab::onRemoveZone()
{
    const QList<QTableWidgetItem*> selected = widgets_.table->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const unsigned int id = selected.first()->data(Qt::UserRole).toUInt();
    if (zones_.erase(id) != 0) {
        unapplied_ = true;
    }
    showZones();
}

std::vector<QString> ZonesTab::ApplyCommands() const
{
    std::vector<QString> paths;
    paths.push_back(QStringLiteral("/qel-cgi/admin/vca.cgi?action=remove&group=VCA.Ch0.Zn*"));
    for (const auto& zone : zones_) {
        QString points;
        for (const auto& point : zone.second) {
            points += QStringLiteral("%1:%2,").arg(point.first).arg(point.second);
        }
        paths.push_back(
            QStringLiteral("/qel-cgi/admin/"
                           "vca.cgi?action=add&group=VCA.Ch0&object=zone&id=%1&enable=yes&name=%2&points=%3")
                .arg(QString::number(zone.first), QStringLiteral("Zone_%1").arg(zone.first), points));
    }
    return paths;
}

void ZonesTab::OnApplyZones()
{
    if (SendCommands(tr("Applying zones"), ApplyCommands(), tr("Zones were applied"),
                     tr("Applying zones was cancelled; the device may hold part of the change"))) {
        unapplied_ = false;
    }
}

void ZonesTab::showZones()
{
    DrawableView* view = widgets_.view;
    QTableWidget* table = widgets_.table;
    view->clear();
    polygons_.clear();
    table->setRowCount(0);
    table->setRowCount(static_cast<int>(zones_.size()));

    int row = 0;
    for (auto& entry : zones_) {
        auto polygon = std::make_shared<PolyLine>();
        for (const auto& point : entry.second) {
            polygon->add(QPointF(AbsoluteToRelative(point.first), AbsoluteToRelative(point.second)));
        }
        polygon->setData(&entry);
        view->addDrawable(polygon);
        polygons_[entry.first] = polygon;

        auto* item = new QTableWidgetItem(ZoneRowText(entry.second));
        item->setData(Qt::UserRole, entry.first);
        table->setItem(row, 0, item);
        ++row;
    }
    view->update();
}

void ZonesTab::onZoneSelectionChanged()
{
    const QList<QTableWidgetItem*> selected = widgets_.table->selectedItems();
    const bool any = !selected.isEmpty();
    const unsigned int selectedId = any ? selected.first()->data(Qt::UserRole).toUInt() : 0;
    for (const auto& entry : polygons_) {
        const bool highlight = any && entry.first == selectedId;
        entry.second->setColor(highlight ? kSelectedZoneColour : QColor(Qt::black));
        entry.second->setPenWidth(highlight ? kSelectedZonePenWidth : 0);
    }
    widgets_.view->update();
}
