#include "ZonesTab.h"

#include "AssignmentVerifier.h"
#include "DrawableView.h"
#include "ErrorBox.h"
#include "PolyLine.h"
#include "VcaConfigReader.h"

#include <QColor>
#include <QHeaderView>
#include <QMessageBox>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
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
constexpr int kZonePenWidth = 2;

// Bright colours that stand apart from each other and from a picture's
// greys; none is the selection's yellow or the white of a zone being drawn.
const QColor kZonePalette[] = {QColor(0, 190, 255),  QColor(255, 120, 0),   QColor(60, 220, 60),
                               QColor(255, 60, 150), QColor(170, 110, 255), QColor(0, 220, 190),
                               QColor(255, 60, 40),  QColor(120, 150, 255)};
// Light enough that the picture shows through the zone.
constexpr int kZoneFillAlpha = 50;

// A device's zone name as one line of plain text: line breaks and other
// control characters become spaces.
QString ShownName(const QString& name)
{
    QString shown = name;
    for (QChar& c : shown) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph) {
            c = QLatin1Char(' ');
        }
    }
    return shown;
}

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

QColor ZoneColour(unsigned int id)
{
    constexpr unsigned int count = sizeof(kZonePalette) / sizeof(kZonePalette[0]);
    return kZonePalette[id % count];
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
    table->setColumnCount(kZoneColumnCount);
    table->setHorizontalHeaderLabels({tr("Name"), tr("On"), tr("Absolute coordinates")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setShowGrid(true);
    // A long name is elided in its column; the coordinates take the rest.
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(kZoneColumnName, QHeaderView::Interactive);
    header->setSectionResizeMode(kZoneColumnOn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(kZoneColumnPoints, QHeaderView::Stretch);
    table->setColumnWidth(kZoneColumnName, 140);
    widgets_.addZone->setToolTip(
        tr("Draw a zone over the picture; Ctrl+Z undoes the last drawing, move or removal"));
    widgets_.removeZone->setToolTip(tr("Remove the selected zone; Ctrl+Z brings it back"));
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

    // A shortcut of the window, but one on the table's page: it is active only
    // while that page shows.
    undoShortcut_ = new QShortcut(QKeySequence::Undo, table);
    undoShortcut_->setObjectName(QStringLiteral("shortcutUndoZoneChange"));
    undoShortcut_->setContext(Qt::WindowShortcut);
    vf = connect(undoShortcut_, &QShortcut::activated, this, &ZonesTab::Undo);
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
    undo_.clear();
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
    RememberForUndo();
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
        RememberForUndo();
        zones_[id] = points;
        unapplied_ = true;
    }
    showZones();
}

bool ZonesTab::ZoneIdOf(const Drawable* shape, unsigned int& id) const
{
    // Only the shapes of the current table count: a table replaced while a
    // drag was under way (a load, an undo) leaves the dragged shape behind,
    // and its edit must not land on the zone that replaced its own.
    for (const auto& entry : polygons_) {
        if (entry.second.get() == shape) {
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
    if (zones_.count(id) != 0) {
        RememberForUndo();
        zones_.erase(id);
        settings_.erase(id);
        unapplied_ = true;
    }
    showZones();
}

void ZonesTab::RememberForUndo()
{
    undo_.push_back({zones_, settings_, unapplied_});
    if (undo_.size() > kUndoSteps) {
        undo_.pop_front();
    }
}

void ZonesTab::Undo()
{
    if (undo_.empty()) {
        return;
    }
    UndoStep step = std::move(undo_.back());
    undo_.pop_back();
    zones_ = std::move(step.zones);
    settings_ = std::move(step.settings);
    unapplied_ = step.unapplied;
    showZones();
    emit StatusChanged(tr("The last zone change was undone; nothing was sent"));
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
    for (const auto& entry : zones_) {
        const unsigned int id = entry.first;
        auto polygon = std::make_shared<PolyLine>();
        for (const auto& point : entry.second) {
            polygon->add(QPointF(AbsoluteToRelative(point.first), AbsoluteToRelative(point.second)));
        }
        StylePolygon(id, *polygon, false);
        view->addDrawable(polygon);
        polygons_[id] = polygon;

        const ZoneSettings settings = SettingsOf(id);
        // Every cell carries the zone id: a selection may start at any of them.
        const auto setCell = [&](int column, const QString& text) {
            auto* item = new QTableWidgetItem(text);
            item->setData(Qt::UserRole, id);
            table->setItem(row, column, item);
            return item;
        };
        QTableWidgetItem* name = setCell(kZoneColumnName, ShownName(settings.name));
        name->setData(Qt::DecorationRole, ZoneColour(id)); // ties the row to its drawing
        name->setToolTip(PlainToolTip(settings.name));
        setCell(kZoneColumnOn, settings.enable ? tr("yes") : tr("no"))->setTextAlignment(Qt::AlignCenter);
        setCell(kZoneColumnPoints, ZoneRowText(entry.second));
        ++row;
    }
    view->update();
}

ZoneSettings ZonesTab::SettingsOf(unsigned int id) const
{
    const auto found = settings_.find(id);
    return found != settings_.end() ? found->second : NewZoneSettings(id);
}

void ZonesTab::StylePolygon(unsigned int id, PolyLine& polygon, bool selected) const
{
    const QColor colour = ZoneColour(id);
    const ZoneSettings settings = SettingsOf(id);
    polygon.setColor(selected ? kSelectedZoneColour : colour);
    polygon.setPenWidth(selected ? kSelectedZonePenWidth : kZonePenWidth);
    // A zone that is off stays where it is but detects nothing: dashed.
    polygon.setPenStyle(settings.enable ? Qt::SolidLine : Qt::DashLine);
    QColor fill = colour;
    fill.setAlpha(kZoneFillAlpha);
    polygon.setFillColor(fill);
    polygon.setLabel(ShownName(settings.name), colour);
}

void ZonesTab::onZoneSelectionChanged()
{
    const QList<QTableWidgetItem*> selected = widgets_.table->selectedItems();
    const bool any = !selected.isEmpty();
    const unsigned int selectedId = any ? selected.first()->data(Qt::UserRole).toUInt() : 0;
    for (const auto& entry : polygons_) {
        StylePolygon(entry.first, *entry.second, any && entry.first == selectedId);
    }
    widgets_.view->update();
}
