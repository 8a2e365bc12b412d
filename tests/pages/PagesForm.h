#pragma once

#include "CameraPositionTab.h"
#include "ClassifierTab.h"
#include "HttpClientDialog.h"
#include "ZonesTab.h"
#include "ui_SettingsDialog.h"

#include <QDialog>
#include <memory>

// The settings dialog's real form with the three analytics pages built on
// its widgets, as the dialog builds them, but sending to a device at
// 127.0.0.1:port. No first-show loading: the test hands the pages their data.
class PagesForm final {
public:
    explicit PagesForm(int httpPort);
    ~PagesForm();
    PagesForm(const PagesForm&) = delete;
    PagesForm& operator=(const PagesForm&) = delete;

    // Shows the dialog on the given tab, laid out, so that mouse positions
    // on the views map onto the picture.
    void ShowTab(QWidget* tab);

    QDialog dialog;
    Ui::SettingsDialog ui;
    std::unique_ptr<HttpClientDialog> http;
    ZonesTab* zones = nullptr;
    CameraPositionTab* camera = nullptr;
    ClassifierTab* classifier = nullptr;
};
