#pragma once

#include <QObject>

class ClientMainForm;
class QPushButton;
class QStatusBar;
class QTableWidget;

// The base of the search window's test classes: a shown window for each test
// function, with the widgets the tests drive found by their object names.
// A test class calls OpenWindow from its init and CloseWindow from its cleanup.
class SearchWindowFixture : public QObject {
    Q_OBJECT
protected:
    void OpenWindow();
    void CloseWindow();

    ClientMainForm* window_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPushButton* search_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* settings_ = nullptr;
    QStatusBar* status_ = nullptr;
};
