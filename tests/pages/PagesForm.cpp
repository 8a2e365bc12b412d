#include "PagesForm.h"

#include "DrawableView.h"

#include <QTest>

PagesForm::PagesForm(int httpPort)
{
    ui.setupUi(&dialog);
    // The form asks for application modality; a test drives it without exec.
    dialog.setWindowModality(Qt::NonModal);
    http = std::make_unique<HttpClientDialog>("127.0.0.1", httpPort, "root", "kqzt");

    zones = new ZonesTab(&dialog, http.get(),
                         {qobject_cast<DrawableView*>(ui.videoWidget1), ui.tableWidgetZones,
                          ui.pushButtonAddZone, ui.pushButtonRemoveZone, ui.pushButtonApplyZones});
    CameraPositionTab::Widgets grid;
    grid.view = qobject_cast<DrawableView*>(ui.videoWidget2);
    grid.fov = ui.spinBoxFieldOfView;
    grid.fovSlider = ui.horizontalSliderFieldOfView;
    grid.angle = ui.spinBoxCameraAngle;
    grid.angleSlider = ui.horizontalSliderCameraAngle;
    grid.height = ui.doubleSpinBoxCameraHeight;
    grid.heightSlider = ui.horizontalSliderCameraHeight;
    grid.mimics = {{{ui.doubleSpinBoxMimic1, ui.pushButtonAddMimic1, ui.pushButtonRemoveMimic1},
                    {ui.doubleSpinBoxMimic2, ui.pushButtonAddMimic2, ui.pushButtonRemoveMimic2}}};
    grid.rulers = {{{ui.lbRuler1, ui.pushButtonAddLine1, ui.pushButtonRemoveLine1, ui.lbRulerSize1},
                    {ui.lbRuler2, ui.pushButtonAddLine2, ui.pushButtonRemoveLine2, ui.lbRulerSize2},
                    {ui.lbRuler3, ui.pushButtonAddLine3, ui.pushButtonRemoveLine3, ui.lbRulerSize3}}};
    grid.apply = ui.pushButtonApplyGrid;
    camera = new CameraPositionTab(&dialog, http.get(), grid);
    classifier = new ClassifierTab(
        &dialog, http.get(),
        {ui.tTimeout,
         {{ui.tObject1MinArea, ui.tObject1MaxArea, ui.tObject1MinHeight, ui.tObject1MaxHeight},
          {ui.tObject2MinArea, ui.tObject2MaxArea, ui.tObject2MinHeight, ui.tObject2MaxHeight},
          {ui.tObject3MinArea, ui.tObject3MaxArea, ui.tObject3MinHeight, ui.tObject3MaxHeight},
          {ui.tObject4MinArea, ui.tObject4MaxArea, ui.tObject4MinHeight, ui.tObject4MaxHeight}},
         ui.bApplyClassifierAndTimeout});
}

PagesForm::~PagesForm() = default;

void PagesForm::ShowTab(QWidget* tab)
{
    ui.tabWidget->setCurrentWidget(tab);
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) {
        qWarning("the form was not exposed");
    }
}
