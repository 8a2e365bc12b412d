#pragma once

#include "DevicePage.h"
#include "PartState.h"
#include "PolyLineCreationTool.h"
#include "VcaConfigReader.h"

#include <QColor>
#include <QPointF>
#include <QString>
#include <deque>
#include <map>
#include <memory>
#include <vector>

class Drawable;
class DrawableView;
class HttpClientDialog;
class Movable;
class PolyLine;
class QPushButton;
class QShortcut;
class QTableWidget;

// Zone points are stored as the device keeps them: 0..65535 per axis, 0 at
// the left or top edge and 65535 at the right or bottom edge.
unsigned short RelativeToAbsolute(double relative);
double AbsoluteToRelative(unsigned short absolute);

// Row text of a zone: "x,y:" for every point, in order.
QString ZoneRowText(const ZonePoints& points);

// Columns of the zone table.
enum ZoneColumn : int { kZoneColumnName = 0, kZoneColumnOn = 1, kZoneColumnPoints = 2, kZoneColumnCount = 3 };

// The colour a zone is drawn in, by its id: the same zone keeps its colour
// across reloads, and neighbouring ids differ.
QColor ZoneColour(unsigned int id);

// The zones page: the device's detection zones of channel 0 as polygons over
// the live picture and as rows of the zone table. The user draws, reshapes
// and removes zones; "Apply Zones" writes the whole set back. The zone table
// is the only truth: every change ends in showZones(), which rebuilds the
// view's shapes and the table rows from it. "Apply Zones" removes every zone
// on the device before it adds the page's, so it is enabled only once the
// device's zones have been read whole. A zone read from the device goes back
// with its name and enable state; the add command cannot carry its type,
// style or colour, so the user is asked before such a zone is re-added. An
// apply that would send back what the device holds sends nothing. An apply
// ends whole (see PartWrite): it is refused when the device's zones changed
// since they were loaded, and after a failure or a stop the page shows the
// zones the device holds. Owned by the settings dialog.
class ZonesTab final : public DevicePage {
    Q_OBJECT
public:
    // The form's widgets the page works on; all owned by the dialog.
    struct Widgets {
        DrawableView* view = nullptr;
        QTableWidget* table = nullptr;
        QPushButton* addZone = nullptr;
        QPushButton* removeZone = nullptr;
        QPushButton* applyZones = nullptr;
        QPushButton* reload = nullptr; // may be null
    };

    ZonesTab(QObject* dialog, HttpClientDialog* http, const Widgets& widgets);
    ~ZonesTab() override;

    const ZonesMap& Zones() const { return zones_; }
    // The commands "Apply Zones" sends, in order.
    std::vector<QString> ApplyCommands() const;
    // The table holds what the device was last known to hold: loaded or
    // applied, and every setting sent back unchanged.
    bool MatchesDevice() const;
    // Zones were drawn, reshaped or removed since they were loaded or last
    // applied without a failure, and the table no longer matches the device.
    bool HasUnappliedChanges() const { return unapplied_ && !MatchesDevice(); }

    // The device's zones could not be loaded: Apply Zones stays disabled and
    // says so in its tool tip.
    void SetLoadFailed();

    // Shows the zones read; Apply Zones is enabled only when the reader read
    // the configuration whole.
    QString TakeConfig(const VcaConfigReader& reader) override;
    void ConfigLoadFailed() override { SetLoadFailed(); }

    // The zones read from the device replace the table. A configuration
    // read only in part is shown, but Apply Zones stays disabled and says why
    // in its tool tip.
    void Load(const PartState& device, bool whole);

signals:
    // "Reload from device": the dialog reads the configuration again.
    void ReloadRequested();

public slots:
    // Zones read from the device, without settings of their own: each counts
    // as an enabled alarm zone named "Zone_<id>". Enables Apply Zones.
    void setZones(const ZonesMap& zones);
    void onAddZone();
    void onCreateZone(std::shared_ptr<Drawable> shape);
    void onEditZone(Drawable* shape, Movable* handle);
    void onRemoveZone();
    void OnApplyZones();
    void showZones();
    // The zone of the selected row stands out in the view.
    void onZoneSelectionChanged();
    // Asks before unapplied changes are dropped.
    void onReload();
    // Puts the table back as it was before the latest drawing, move or
    // removal; sends nothing.
    void Undo();

private:
    // The zone id of a shape of the view; false when the shape no longer
    // belongs to the table (it was rebuilt since the shape was made).
    bool ZoneIdOf(const Drawable* shape, unsigned int& id) const;
    // Asks, for every zone whose type, style or colour re-adding would lose,
    // whether to apply anyway; false at the first No.
    bool ConfirmLostSettings();
    // The zones as Apply Zones writes them.
    PartState AskedState() const;
    // Clears the status that Add zone set, once the zone is closed or
    // cancelled.
    void EndDrawingHint();
    // Keeps the zones as they are now for Undo, before a change.
    void RememberForUndo();
    // A zone's name and enable state, as the table shows them.
    ZoneSettings SettingsOf(unsigned int id) const;
    // Draws a zone's polygon as its settings and the selection say.
    void StylePolygon(unsigned int id, PolyLine& polygon, bool selected) const;

    // What Undo puts back.
    struct UndoStep {
        ZonesMap zones;
        ZoneSettingsMap settings;
        bool unapplied = false;
    };
    // Enough for any session at one device; the oldest step goes first.
    static constexpr size_t kUndoSteps = 50;

    ZonesMap zones_;
    // Name and enable state sent for each zone of the table; the type, style
    // and colour of the ones read from the device. A drawn zone gets its
    // entry when it is made.
    ZoneSettingsMap settings_;
    // What the device holds as far as the page knows, and whether it knows:
    // not before the load, nor after an apply whose end could not be read.
    PartState device_;
    bool deviceKnown_ = false;
    // The zones were read from a configuration read whole: only then may
    // they be written back.
    bool readWhole_ = false;
    // Ids of zones drawn here; kept above every id loaded from the device so
    // that a new zone never replaces a loaded one.
    unsigned int nextZoneId_ = 0;
    Widgets widgets_;
    PolyLineCreationTool creationTool_;
    bool unapplied_ = false;
    bool drawingHintShown_ = false; // Add zone's hint is the last status of the page
    // The view's polygon of every zone, rebuilt by showZones().
    std::map<unsigned int, std::shared_ptr<PolyLine>> polygons_;
    // Newest last; emptied by every load.
    std::deque<UndoStep> undo_;
    QShortcut* undoShortcut_ = nullptr; // on the table: active while the page shows
};
