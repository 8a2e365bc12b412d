#pragma once

#include "DevicePage.h"
#include "PolyLineCreationTool.h"
#include "VcaConfigReader.h"

#include <QPointF>
#include <QString>
#include <map>
#include <memory>
#include <vector>

class Drawable;
class DrawableView;
class HttpClientDialog;
class Movable;
class PolyLine;
class QPushButton;
class QTableWidget;

// Zone points are stored as the device keeps them: 0..65535 per axis, 0 at
// the left or top edge and 65535 at the right or bottom edge.
unsigned short RelativeToAbsolute(double relative);
double AbsoluteToRelative(unsigned short absolute);

// Row text of a zone: "x,y:" for every point, in order.
QString ZoneRowText(const ZonePoints& points);

// The zones page: the device's detection zones of channel 0 as polygons over
// the live picture and as rows of the zone table. The user draws, reshapes
// and removes zones; "Apply Zones" writes the whole set back. The zone table
// is the only truth: every change ends in showZones(), which rebuilds the
// view's shapes and the table rows from it. "Apply Zones" removes every zone
// on the device before it adds the page's, so it is enabled only once the
// device's zones have been loaded into the table. Owned by the settings
// dialog.
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
    };

    ZonesTab(QObject* dialog, HttpClientDialog* http, const Widgets& widgets);
    ~ZonesTab() override;

    const ZonesMap& Zones() const { return zones_; }
    // The commands "Apply Zones" sends, in order.
    std::vector<QString> ApplyCommands() const;
    // Zones were drawn, reshaped or removed since they were loaded or last
    // applied without a failure.
    bool HasUnappliedChanges() const { return unapplied_; }

    // The device's zones could not be loaded: Apply Zones stays disabled and
    // says so in its tool tip.
    void SetLoadFailed();

    QString TakeConfig(const VcaConfigReader& reader) override;
    void ConfigLoadFailed() override { SetLoadFailed(); }

public slots:
    // Zones read from the device replace the table and enable Apply Zones.
    void setZones(const ZonesMap& zones);
    void onAddZone();
    void onCreateZone(std::shared_ptr<Drawable> shape);
    void onEditZone(Drawable* shape, Movable* handle);
    void onRemoveZone();
    void OnApplyZones();
    void showZones();
    // The zone of the selected row stands out in the view.
    void onZoneSelectionChanged();

private:
    // The zone id behind a shape's user data; false when the shape no longer
    // belongs to the table (it was rebuilt since the shape was made).
    bool ZoneIdOf(const Drawable* shape, unsigned int& id) const;

    ZonesMap zones_;
    // Ids of zones drawn here; kept above every id loaded from the device so
    // that a new zone never replaces a loaded one.
    unsigned int nextZoneId_ = 0;
    Widgets widgets_;
    PolyLineCreationTool creationTool_;
    bool unapplied_ = false;
    // The view's polygon of every zone, rebuilt by showZones().
    std::map<unsigned int, std::shared_ptr<PolyLine>> polygons_;
};
