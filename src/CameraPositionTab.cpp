#include "CameraPositionTab.h"

#include "AssignmentVerifier.h"
#include "DrawableView.h"
#include "Grid.h"
#include "Mimic.h"
#include "NumberText.h"
#include "VcaCommands.h"
#include "VcaConfigReader.h"

#include <QColor>
#include <QDoubleSpinBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStringList>
#include <cmath>
#include <initializer_list>
#include <easylogging++.h>
#include <stdexcept>

namespace {

const AssignmentVerifier vf;

// The height slider counts tenths of a metre.
constexpr double kHeightSliderScale = 10.0;

// A mimic whose row has no coloured label is drawn in this colour.
const QColor kMimicColourWithoutLabel(64, 160, 255);

// The widest length a size label is sized for: a ground distance under 1000
// km. Longer ones come only from ends next to the horizon.
const double kWidestLengthMetres = 888888.88;

// What a size label shows while an end of its ruler is above the horizon.
const QString kNoLengthText = QStringLiteral("\u2014");

// A label's background colour, as its style sheet sets it. The palette carries
// the style sheet's colour only once the label has been polished.
QColor BackgroundOf(QLabel* label)
{
    label->ensurePolished();
    return label->palette().color(QPalette::Window);
}

QString LengthText(double metres)
{
    return QString::number(metres, 'f', 2) + QStringLiteral(" \u043C.");
}

// The label that names `control` in the form (its buddy), or null.
QLabel* LabelOf(QWidget* control)
{
    QWidget* parent = control->parentWidget();
    if (parent == nullptr) {
        return nullptr;
    }
    for (QLabel* label : parent->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (label->buddy() == control) {
            return label;
        }
    }
    return nullptr;
}

// trunc(value) for a control with the given range. Values from the device
// are not trusted to fit an int: out of range ones end at the nearer bound.
int TruncIntoRange(double value, int minimum, int maximum)
{
    if (std::isnan(value) || value <= minimum) {
        return minimum;
    }
    if (value >= maximum) {
        return maximum;
    }
    return static_cast<int>(std::trunc(value));
}

} // namespace

void setLabelDistance(QLabel* label, double metres)
{
    label->setText(LengthText(metres));
}

CameraPositionTab::CameraPositionTab(QObject* dialog, HttpClientDialog* http, const Widgets& widgets)
    : DevicePage(dialog, http), widgets_(widgets)
{
    // The camera shows in the controls before any handler is connected, so
    // nothing is recomputed or repainted yet.
    widgets_.height->setValue(camera_.getHeight());
    widgets_.heightSlider->setValue(static_cast<int>(std::trunc(kHeightSliderScale * camera_.getHeight())));
    const int angle = static_cast<int>(std::lround(camera_.getAngle()));
    widgets_.angleSlider->setValue(angle);
    widgets_.angle->setValue(angle);
    const int fov = static_cast<int>(std::lround(camera_.getFOV()));
    widgets_.fovSlider->setValue(fov);
    widgets_.fov->setValue(fov);

    vf = connect(widgets_.height, SIGNAL(valueChanged(double)), this,
                 SLOT(OnDoubleSpinBoxCameraHeightValueChanged(double)));
    vf = connect(widgets_.heightSlider, SIGNAL(valueChanged(int)), this,
                 SLOT(OnHorizontalSliderCameraHeightValueChanged(int)));
    vf = connect(widgets_.fovSlider, SIGNAL(valueChanged(int)), this, SLOT(UpdateGrid()));
    vf = connect(widgets_.angleSlider, SIGNAL(valueChanged(int)), this, SLOT(UpdateGrid()));
    vf = connect(widgets_.height, SIGNAL(valueChanged(double)), this, SLOT(UpdateGrid()));
    for (const MimicRow& row : widgets_.mimics) {
        vf = connect(row.height, SIGNAL(valueChanged(double)), this, SLOT(OnMimicHeightChange(double)));
        vf = connect(row.add, SIGNAL(clicked()), this, SLOT(OnAddMimic()));
        vf = connect(row.remove, SIGNAL(clicked()), this, SLOT(OnRemoveMimic()));
    }
    for (const RulerRow& row : widgets_.rulers) {
        vf = connect(row.add, SIGNAL(clicked()), this, SLOT(OnAddRuler()));
        vf = connect(row.remove, SIGNAL(clicked()), this, SLOT(OnRemoveRuler()));
    }
    vf = connect(widgets_.view, SIGNAL(shapeCreated(std::shared_ptr<Drawable>)), this,
                 SLOT(OnCreateDrawable(std::shared_ptr<Drawable>)));
    vf = connect(widgets_.view, SIGNAL(creationCancelled(std::shared_ptr<Drawable>)), this,
                 SLOT(OnDrawingCancelled(std::shared_ptr<Drawable>)));

    grid_ = std::make_shared<GridDrawable>();
    grid_->setCameraPosition(camera_);
    widgets_.view->addDrawable(grid_);

    for (int i = 0; i < kMimicRows; ++i) {
        const MimicRow& row = widgets_.mimics[i];
        // A mimic is drawn in the colour of the label that names its row.
        QLabel* label = LabelOf(row.height);
        mimicCreators_[i] = std::make_unique<MimicCreator>(
            camera_, label != nullptr ? BackgroundOf(label) : kMimicColourWithoutLabel);
        for (QObject* control : {static_cast<QObject*>(row.height), static_cast<QObject*>(row.add),
                                 static_cast<QObject*>(row.remove)}) {
            mimicTools_[control] = mimicCreators_[i].get();
        }
    }
    for (int i = 0; i < kRulerRows; ++i) {
        const RulerRow& row = widgets_.rulers[i];
        rulerCreators_[i] = std::make_unique<RulerCreator>(this, BackgroundOf(row.colour), row.size);
        // Room for the widest length from the start: a longer text would
        // widen the column and shift the row's buttons sideways.
        row.size->setMinimumWidth(row.size->fontMetrics().horizontalAdvance(LengthText(kWidestLengthMetres)) +
                                  2 * row.size->margin());
        rulerTools_[row.add] = rulerCreators_[i].get();
        rulerTools_[row.remove] = rulerCreators_[i].get();
    }

    applyToolTip_ = widgets_.apply->toolTip();
    vf = connect(widgets_.apply, SIGNAL(clicked()), this, SLOT(OnApplyCam()));
}

CameraPositionTab::~CameraPositionTab() = default;

QString CameraPositionTab::TakeConfig(const VcaConfigReader& reader)
{
    CamposValues campos;
    QString errorMessage;
    if (!reader.ReadCampos(campos, errorMessage)) {
        return errorMessage;
    }
    VLOG(1) << "Camera position loaded: FOV " << campos.fov << ", camangle " << campos.camangle << ", height "
            << campos.heightMetres;
    setCampos(campos.fov, campos.camangle, campos.heightMetres);
    // What was read is shown; written back it could replace what was not.
    whole_ = reader.IsWhole();
    return {};
}

void CameraPositionTab::EnableControls(bool videoConnected, bool loadIdle)
{
    for (QWidget* w :
         std::initializer_list<QWidget*>{widgets_.fov, widgets_.fovSlider, widgets_.angle,
                                         widgets_.angleSlider, widgets_.height, widgets_.heightSlider}) {
        w->setEnabled(videoConnected && loadIdle && read_);
    }
    for (const MimicRow& row : widgets_.mimics) {
        row.height->setEnabled(videoConnected);
        row.add->setEnabled(videoConnected);
        row.remove->setEnabled(videoConnected);
    }
    widgets_.apply->setEnabled(videoConnected && whole_);
    widgets_.apply->setToolTip(whole_  ? applyToolTip_
                               : read_ ? tr("Not available: the device's configuration was read only in part")
                                       : tr("Not available: the device's camera position was not loaded"));
}

void CameraPositionTab::setCampos(double fov, double angle, double height)
{
    // A value that is not a number leaves its control as it is; the rest are
    // cut into the controls' ranges before they become ints.
    if (std::isfinite(angle)) {
        const int value =
            TruncIntoRange(angle, widgets_.angleSlider->minimum(), widgets_.angleSlider->maximum());
        widgets_.angleSlider->setValue(value);
        widgets_.angle->setValue(value);
    }
    if (std::isfinite(fov)) {
        const int value = TruncIntoRange(fov, widgets_.fovSlider->minimum(), widgets_.fovSlider->maximum());
        widgets_.fovSlider->setValue(value);
        widgets_.fov->setValue(value);
    }
    if (std::isfinite(height)) {
        widgets_.heightSlider->setValue(TruncIntoRange(
            kHeightSliderScale * height, widgets_.heightSlider->minimum(), widgets_.heightSlider->maximum()));
        widgets_.height->setValue(height);
    }
    UpdateGrid();
    device_ = {fov, angle, height};
    shown_ = ControlValues();
    read_ = true;
    whole_ = true;
    deviceKnown_ = true;
    const QString outside = OutOfRangeText(device_);
    if (!outside.isEmpty()) {
        emit StatusChanged(outside);
    }
}

CameraPositionTab::Position CameraPositionTab::ControlValues() const
{
    return {static_cast<double>(widgets_.fov->value()), static_cast<double>(widgets_.angle->value()),
            widgets_.height->value()};
}

QString CameraPositionTab::OutOfRangeText(const Position& device) const
{
    const auto outside = [](double value, double minimum, double maximum) {
        return !(value >= minimum && value <= maximum);
    };
    // The device holds whole degrees: written out in full, not as 4e+09.
    const auto degrees = [](double value) {
        return std::isfinite(value) && std::trunc(value) == value && std::fabs(value) < 1e15
                   ? QString::number(value, 'f', 0)
                   : ExactNumberText(value);
    };
    QStringList texts;
    if (outside(device.fov, widgets_.fov->minimum(), widgets_.fov->maximum())) {
        texts << tr("The device's field of view %1 is outside %2\u2013%3; Apply would write %4")
                     .arg(degrees(device.fov))
                     .arg(widgets_.fov->minimum())
                     .arg(widgets_.fov->maximum())
                     .arg(widgets_.fov->value());
    }
    if (outside(device.angle, widgets_.angle->minimum(), widgets_.angle->maximum())) {
        texts << tr("The device's tilt %1 is outside %2\u2013%3; Apply would write %4")
                     .arg(degrees(device.angle))
                     .arg(widgets_.angle->minimum())
                     .arg(widgets_.angle->maximum())
                     .arg(widgets_.angle->value());
    }
    if (outside(device.height, widgets_.height->minimum(), widgets_.height->maximum())) {
        texts << tr("The device's height %1 m is outside %2\u2013%3 m; Apply would write %4 m")
                     .arg(ExactNumberText(device.height), ExactNumberText(widgets_.height->minimum()),
                          ExactNumberText(widgets_.height->maximum()),
                          ExactNumberText(widgets_.height->value()));
    }
    return texts.join(QStringLiteral(". "));
}

bool CameraPositionTab::IsChanged() const
{
    const Position now = ControlValues();
    return !deviceKnown_ || now.fov != shown_.fov || now.angle != shown_.angle || now.height != shown_.height;
}

CameraPositionTab::Position CameraPositionTab::ToWrite() const
{
    Position position = ControlValues();
    if (position.height == shown_.height && device_.height >= widgets_.height->minimum() &&
        device_.height <= widgets_.height->maximum()) {
        position.height = device_.height;
    }
    return position;
}

void CameraPositionTab::UpdateGrid()
{
    camera_.set(widgets_.fov->value(), widgets_.angle->value(), widgets_.height->value());
    grid_->setCameraPosition(camera_);
    for (const auto& entry : rulerTools_) {
        const std::shared_ptr<Ruler> ruler = entry.second->getRuler();
        if (ruler) {
            notify(ruler.get(), ruler->getFirstPoint(), ruler->getSecondPoint());
        }
    }
    widgets_.view->update();
}

void CameraPositionTab::OnDoubleSpinBoxCameraHeightValueChanged(double height)
{
    widgets_.heightSlider->setValue(static_cast<int>(std::trunc(kHeightSliderScale * height)));
}

void CameraPositionTab::OnHorizontalSliderCameraHeightValueChanged(int value)
{
    // Only a slider move that the spin box does not already show changes it,
    // so the two do not chase each other and a typed 3.55 stays 3.55.
    if (value != static_cast<int>(std::trunc(kHeightSliderScale * widgets_.height->value()))) {
        widgets_.height->setValue(value / kHeightSliderScale);
    }
}

void CameraPositionTab::OnMimicHeightChange(double height)
{
    MimicCreator* creator = MimicToolOf(sender());
    if (creator == nullptr) {
        return;
    }
    creator->setMimicHeight(height);
    widgets_.view->update();
}

void CameraPositionTab::OnAddMimic()
{
    MimicCreator* creator = MimicToolOf(sender());
    if (creator == nullptr) {
        return;
    }
    widgets_.view->setCreationTool(creator);
    widgets_.view->update();
}

void CameraPositionTab::OnRemoveMimic()
{
    MimicCreator* creator = MimicToolOf(sender());
    if (creator == nullptr || !creator->getMimic()) {
        return;
    }
    widgets_.view->removeDrawable(creator->getMimic());
    creator->reset();
    widgets_.view->update();
}

void CameraPositionTab::OnAddRuler()
{
    RulerCreator* creator = RulerToolOf(sender());
    if (creator == nullptr) {
        return;
    }
    widgets_.view->setCreationTool(creator);
    widgets_.view->update();
}

void CameraPositionTab::OnRemoveRuler()
{
    RulerCreator* creator = RulerToolOf(sender());
    if (creator == nullptr || !creator->getRuler()) {
        return;
    }
    const std::shared_ptr<Ruler> ruler = creator->getRuler();
    widgets_.view->removeDrawable(ruler);
    auto* label = static_cast<QLabel*>(ruler->getData());
    if (label != nullptr) {
        setLabelDistance(label, 0);
    }
    creator->reset();
    widgets_.view->update();
}

void CameraPositionTab::OnCreateDrawable(std::shared_ptr<Drawable> shape)
{
    widgets_.view->addDrawable(shape);
}

void CameraPositionTab::notify(Ruler* ruler, const QPointF& first, const QPointF& second)
{
    auto* label = static_cast<QLabel*>(ruler->getData());
    if (label == nullptr) {
        return;
    }
    // A point on or above the horizon shows no ground: the camera model
    // would measure to a point behind the camera, a length that looks real.
    const double horizon = 0.5 - camera_.getHorizontHeight();
    if (!(first.y() > horizon && second.y() > horizon)) {
        label->setText(kNoLengthText);
        return;
    }
    try {
        setLabelDistance(label, camera_.getDistanceOnGround(Point2F(first.x(), first.y()),
                                                            Point2F(second.x(), second.y())));
    } catch (const std::runtime_error& error) {
        // Rounding can still put an end exactly on the horizon.
        label->setText(kNoLengthText);
        VLOG(1) << "Ruler length not measurable: " << error.what();
    }
}

QString CameraPositionTab::ApplyCommand() const
{
    const Position position = ToWrite();
    return CamposCommand(position.fov, position.angle, position.height);
}

void CameraPositionTab::OnApplyCam()
{
    if (!whole_) {
        return;
    }
    if (!IsChanged()) {
        emit StatusChanged(tr("Nothing to apply: the camera position was not changed."));
        return;
    }
    if (!MayApply()) {
        return;
    }
    const Position written = ToWrite();
    deviceKnown_ = SendCommands(
        tr("Applying the camera position"),
        QStringLiteral("camera position (field of view %1, tilt %2, height %3 m)")
            .arg(QString::number(std::lround(written.fov)), QString::number(std::lround(written.angle)),
                 ExactNumberText(written.height)),
        {ApplyCommand()}, tr("Camera position was applied"),
        tr("Applying the camera position was cancelled; the device may hold part of the change"));
    if (deviceKnown_) {
        device_ = written;
        shown_ = ControlValues();
    }
}

void CameraPositionTab::OnDrawingCancelled(std::shared_ptr<Drawable> shape)
{
    for (const std::unique_ptr<RulerCreator>& creator : rulerCreators_) {
        const std::shared_ptr<Ruler> ruler = creator->getRuler();
        if (ruler && ruler == shape) {
            auto* label = static_cast<QLabel*>(ruler->getData());
            if (label != nullptr) {
                setLabelDistance(label, 0);
            }
            creator->reset();
        }
    }
}

MimicCreator* CameraPositionTab::MimicToolOf(QObject* control) const
{
    const auto it = mimicTools_.find(control);
    return it == mimicTools_.end() ? nullptr : it->second;
}

RulerCreator* CameraPositionTab::RulerToolOf(QObject* control) const
{
    const auto it = rulerTools_.find(control);
    return it == rulerTools_.end() ? nullptr : it->second;
}
