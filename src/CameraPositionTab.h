#pragma once

#include "Camera.h"
#include "DevicePage.h"
#include "Ruler.h"

#include <QPointF>
#include <QString>
#include <array>
#include <map>
#include <memory>

class Drawable;
class DrawableView;
class GridDrawable;
class HttpClientDialog;
class MimicCreator;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;

// A ruler's measured length: "12.50 м." for 12.5 metres.
void setLabelDistance(QLabel* label, double metres);

// The camera position page: field of view, tilt and mounting height of the
// camera, checked by eye against a perspective ground grid, two human-size
// markers and three measuring lines over the live picture, and written to the
// device on "Apply", only once the device's position has been read whole and
// only when a control was changed. The grid is the first shape of the view
// for good; each marker and ruler row has its own creation tool, lent to the
// view by the row's "Add" button. Each marker and ruler is drawn in the
// background colour of the label that names its row (for a marker, the label
// whose buddy is the row's height box). Owned by the settings dialog; GUI
// thread only.
class CameraPositionTab final : public DevicePage, public RulerListener {
    Q_OBJECT
public:
    static constexpr int kMimicRows = 2;
    static constexpr int kRulerRows = 3;

    struct MimicRow {
        QDoubleSpinBox* height = nullptr;
        QPushButton* add = nullptr;
        QPushButton* remove = nullptr;
    };
    struct RulerRow {
        QLabel* colour = nullptr; // its background is the ruler's colour
        QPushButton* add = nullptr;
        QPushButton* remove = nullptr;
        QLabel* size = nullptr; // the measured length
    };
    // The form's widgets the page works on; all owned by the dialog.
    struct Widgets {
        DrawableView* view = nullptr;
        QSpinBox* fov = nullptr;
        QSlider* fovSlider = nullptr;
        QSpinBox* angle = nullptr;
        QSlider* angleSlider = nullptr;
        QDoubleSpinBox* height = nullptr;
        QSlider* heightSlider = nullptr; // tenths of a metre
        std::array<MimicRow, kMimicRows> mimics;
        std::array<RulerRow, kRulerRows> rulers;
        QPushButton* apply = nullptr;
    };

    CameraPositionTab(QObject* dialog, HttpClientDialog* http, const Widgets& widgets);
    ~CameraPositionTab() override;

    const Camera& GetCamera() const { return camera_; }
    // The command "Apply" sends: the controls' values, except that a height
    // whose control still shows what was loaded goes back as the device
    // holds it (the control keeps two decimals).
    QString ApplyCommand() const;
    // A control shows another value than it did when the position was
    // loaded or last applied, or the last apply failed. A device value
    // outside a control's range counts as changed only once that control
    // shows another value than the bound it was put at.
    bool IsChanged() const;
    // A change that Apply could write.
    bool HasUnappliedChanges() const { return whole_ && IsChanged(); }

    QString TakeConfig(const VcaConfigReader& reader) override;
    // The page's enabling rule: the camera controls with the live picture,
    // no load under way (`loadIdle`) and a camera position read from the
    // device; Apply with the live picture and a position read whole; the
    // markers with the live picture.
    void EnableControls(bool videoConnected, bool loadIdle);

    // Recomputes the length of a ruler that carries its size label.
    void notify(Ruler* ruler, const QPointF& first, const QPointF& second) override;

public slots:
    // The device's camera position: puts it into the controls, redraws, and
    // names in the status line each value outside its control's range.
    void setCampos(double fov, double angle, double height);
    void UpdateGrid();
    void OnDoubleSpinBoxCameraHeightValueChanged(double height);
    void OnHorizontalSliderCameraHeightValueChanged(int value);
    void OnMimicHeightChange(double height);
    void OnAddMimic();
    void OnRemoveMimic();
    void OnAddRuler();
    void OnRemoveRuler();
    void OnCreateDrawable(std::shared_ptr<Drawable> shape);
    void OnApplyCam();
    // A ruler whose drawing was cancelled starts anew at the next click.
    void OnDrawingCancelled(std::shared_ptr<Drawable> shape);

private:
    struct Position {
        double fov = 0;
        double angle = 0;
        double height = 0;
    };
    Position ControlValues() const;
    Position ToWrite() const;
    // Empty when every value fits its control.
    QString OutOfRangeText(const Position& device) const;
    MimicCreator* MimicToolOf(QObject* control) const;
    RulerCreator* RulerToolOf(QObject* control) const;

    Widgets widgets_;
    Camera camera_{36, 13, 3, 1.25}; // 720 x 576 picture
    std::shared_ptr<GridDrawable> grid_;
    std::array<std::unique_ptr<MimicCreator>, kMimicRows> mimicCreators_;
    std::array<std::unique_ptr<RulerCreator>, kRulerRows> rulerCreators_;
    std::map<QObject*, MimicCreator*> mimicTools_; // a row's controls to its tool
    std::map<QObject*, RulerCreator*> rulerTools_; // a row's buttons to its tool
    // A camera position was read from the device; whole_: from a
    // configuration read whole.
    bool read_ = false;
    bool whole_ = false;
    // false after an apply failed: the device may hold either position.
    bool deviceKnown_ = true;
    Position device_;      // as loaded or last applied
    Position shown_;       // what the controls showed for device_
    QString applyToolTip_; // the form's, for while Apply is available
};
