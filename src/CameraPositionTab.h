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
// device on "Apply". The grid is the first shape of the view for good; each
// marker and ruler row has its own creation tool, lent to the view by the
// row's "Add" button. Owned by the settings dialog; GUI thread only.
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
    // The command "Apply" sends for the current camera.
    QString ApplyCommand() const;
    // The camera was changed since it was loaded or last applied without a
    // failure.
    bool HasUnappliedChanges() const { return unapplied_; }

    QString TakeConfig(const VcaConfigReader& reader) override;
    // The page's enabling rule: the camera controls only with the live
    // picture and a usable camera position, the markers and Apply with the
    // live picture.
    void EnableControls(bool videoConnected, bool cameraUsable);

    // Recomputes the length of a ruler that carries its size label.
    void notify(Ruler* ruler, const QPointF& first, const QPointF& second) override;

public slots:
    // The device's camera position: puts it into the controls and redraws.
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
    MimicCreator* MimicToolOf(QObject* control) const;
    RulerCreator* RulerToolOf(QObject* control) const;

    Widgets widgets_;
    Camera camera_{36, 13, 3, 1.25}; // 720 x 576 picture
    std::shared_ptr<GridDrawable> grid_;
    std::array<std::unique_ptr<MimicCreator>, kMimicRows> mimicCreators_;
    std::array<std::unique_ptr<RulerCreator>, kRulerRows> rulerCreators_;
    std::map<QObject*, MimicCreator*> mimicTools_; // a row's controls to its tool
    std::map<QObject*, RulerCreator*> rulerTools_; // a row's buttons to its tool
    bool unapplied_ = false;
};
