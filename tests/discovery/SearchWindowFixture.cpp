#include "SearchWindowFixture.h"

#include "ClientMainForm.h"
#include "TestHelpers.h"

#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>

void SearchWindowFixture::OpenWindow()
{
    window_ = new ClientMainForm;
    window_->show();
    table_ = Child<QTableWidget>(window_, "tableWidgetDevices");
    search_ = Child<QPushButton>(window_, "pushButtonSearch");
    stop_ = Child<QPushButton>(window_, "pushButtonStopSearch");
    settings_ = Child<QPushButton>(window_, "pushButtonSettings");
    status_ = Child<QStatusBar>(window_, "statusbar");
}

void SearchWindowFixture::CloseWindow()
{
    delete window_;
    window_ = nullptr;
}
