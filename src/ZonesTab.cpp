#include "ZonesTab.h"

#include "AssignmentVerifier.h"
#include "DrawableView.h"
#include "ErrorBox.h"
#include "PolyLine.h"
#include "VcaConfigReader.h"

#include <QColor>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <easylogging++.h>

namespace {

const AssignmentVerifier vf;

constexpr double kAbsoluteMax = 65535.0;

// The selected zone over live video: a colour and a width no other shape has.
const QColor kSelectedZoneColour(255, 255, 0);
constexpr int kSelectedZonePenWidth = 3;

// What the add command gives a zone: the name drawn zones get, on, an alarm
// zone drawn as a polygon, no colour.
ZoneSettings AddedZoneSettings(const QString& name, bool enable)
{
    ZoneSettings settings;
    settings.name = name;
    settings.enable = enable;
    return settings;
}

ZoneSettings NewZoneSettings(unsigned int id)
{
    return AddedZoneSettings(QStringLiteral("Zone_%1").arg(id), true);
}

bool SameNameAndEnable(const ZoneSettingsMap& a, const ZoneSettingsMap& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.first == y.first && x.second.name == y.second.name && x.second.enable == y.second.enable;
    });
}

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
    if (widgets_.reload != nullptr) {
        vf = connect(widgets_.reload, SIGNAL(clicked()), this, SLOT(onReload()));
    }
    // A closed or cancelled zone leaves no drawing hint behind.
    vf = connect(widgets_.view, &DrawableView::shapeCreated, this, &ZonesTab::EndDrawingHint);
    vf = connect(widgets_.view, &DrawableView::creationCancelled, this, &ZonesTab::EndDrawingHint);
}

ZonesTab::~ZonesTab() = default;

void ZonesTab::setZones(const ZonesMap& zones)
{
    PartState state;
    state.zones = zones;
    state.zoneCount = zones.size();
    for (const auto& zone : zones) {
        state.zoneSettings[zone.first] = NewZoneSettings(zone.first);
    }
    Load(state, true);
}

void ZonesTab::Load(const PartState& device, bool whole)
{
    zones_ = device.zones;
    settings_.clear();
    for (const auto& zone : zones_) {
        const auto it = device.zoneSettings.find(zone.first);
        settings_[zone.first] = it != device.zoneSettings.end() ? it->second : NewZoneSettings(zone.first);
    }
    device_ = device;
    deviceKnown_ = true;
    readWhole_ = whole;
    unapplied_ = false;
    if (!zones_.empty()) {
        const unsigned int largestId = zones_.rbegin()->first;
        if (largestId >= nextZoneId_) {
            nextZoneId_ = largestId + 1;
        }
    }
    showZones();
    widgets_.applyZones->setEnabled(whole);
    widgets_.applyZones->setToolTip(
        whole
            ? QString()
            : tr("The device's configuration could not be read whole; nothing will be written back from it"));
}

QString ZonesTab::TakeConfig(const VcaConfigReader& reader)
{
    PartState state;
    QString errorMessage;
    if (!ReadPartState(reader, TemplatePart::Zones, state, errorMessage)) {
        SetLoadFailed();
        return errorMessage;
    }
    VLOG(1) << "Zones of channel 0 loaded: " << state.zones.size()
            << (reader.IsWhole() ? "" : ", read in part");
    Load(state, reader.IsWhole());
    return {};
}

void ZonesTab::SetLoadFailed()
{
    // The reason is in the error shown with the failure; a tool tip would
    // render device text as rich text.
    readWhole_ = false;
    widgets_.applyZones->setEnabled(false);
    widgets_.applyZones->setToolTip(
        tr("The device's zones could not be loaded; reopen the dialog to try again"));
}

void ZonesTab::onAddZone()
{
    widgets_.view->setCreationTool(&creationTool_);
    drawingHintShown_ = true;
    emit StatusChanged(tr("Click the corners of the zone, then its first corner to close it; "
                          "Escape or a right click cancels"));
}

void ZonesTab::EndDrawingHint()
{
    if (drawingHintShown_) {
        drawingHintShown_ = false;
        emit StatusChanged(QString());
    }
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
    settings_[nextZoneId_] = NewZoneSettings(nextZoneId_);
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
    settings_.erase(id);
    showZones();
}

std::vector<QString> ZonesTab::ApplyCommands() const
{
    std::vector<QString> paths;
    for (const PartRequest& request : PartRequests(nullptr, AskedState())) {
        paths.push_back(request.path);
    }
    return paths;
}

bool ZonesTab::MatchesDevice() const
{
    return deviceKnown_ && zones_ == device_.zones && device_.zoneCount == zones_.size() &&
           SameNameAndEnable(settings_, device_.zoneSettings);
}

PartState ZonesTab::AskedState() const
{
    PartState asked;
    asked.zones = zones_;
    asked.zoneSettings = settings_;
    return AsWritten(asked);
}

bool ZonesTab::ConfirmLostSettings()
{
    QWidget* window = widgets_.applyZones->window();
    for (const auto& zone : zones_) {
        const auto found = settings_.find(zone.first);
        const QStringList lost =
            found != settings_.end() ? ZoneSettingsNotCarried(found->second) : QStringList();
        if (lost.isEmpty()) {
            continue;
        }
        // Zone names come from the device: plain text only.
        QMessageBox question(QMessageBox::Question, window->windowTitle(),
                             tr("Zone '%1' has settings that re-adding it cannot keep (%2); apply anyway?")
                                 .arg(QuotedDeviceText(found->second.name), lost.join(QStringLiteral(", "))),
                             QMessageBox::Yes | QMessageBox::No, window);
        question.setTextFormat(Qt::PlainText);
        question.setDefaultButton(QMessageBox::No);
        question.setEscapeButton(QMessageBox::No);
        if (question.exec() != QMessageBox::Yes) {
            return false;
        }
    }
    return true;
}

void ZonesTab::OnApplyZones()
{
    if (!readWhole_) {
        return;
    }
    // What the apply says replaces the hint, and stays.
    drawingHintShown_ = false;
    if (MatchesDevice()) {
        emit StatusChanged(tr("Nothing to apply: the zones were not changed."));
        return;
    }
    if (!ConfirmLostSettings()) {
        emit StatusChanged(tr("Zones were not applied; nothing was sent"));
        return;
    }
    if (!MayApply()) {
        return;
    }
    WriteTexts texts;
    texts.action = tr("Applying zones");
    texts.what = QStringLiteral("zones (%1 zone(s))").arg(zones_.size());
    texts.applied = tr("Zones were applied");
    texts.noun = tr("zones");
    texts.notApplied = tr("Zones were not applied; nothing was sent");
    texts.reloaded = tr("The device's zones were loaded again; nothing was sent");
    texts.pageNote =
        tr("The page shows the zones the device holds; the changes that were not applied are dropped.");
    deviceKnown_ = WriteAndReport(TemplatePart::Zones, texts, AskedState(), deviceKnown_ ? &device_ : nullptr,
                                  widgets_.applyZones->window(),
                                  [this](const VcaConfigReader& device) { TakeConfig(device); });
}

void ZonesTab::onReload()
{
    if (HasUnappliedChanges() &&
        !AskYesNo(widgets_.applyZones->window(),
                  tr("Drop the zone changes not yet applied and show the zones the device holds?"))) {
        return;
    }
    emit ReloadRequested();
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
