#include "DialogLan.h"

#include "ClientMainForm.h"
#include "SettingsDialog.h"
#include "TestHelpers.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

namespace dialoglan {
namespace {

constexpr int kDialogOpenTimeoutMs = 15000;

} // namespace

int FindDeviceRow(ClientMainForm* window, const QString& macText)
{
    auto* table = Child<QTableWidget>(window, "tableWidgetDevices");
    auto* search = Child<QPushButton>(window, "pushButtonSearch");
    auto* stop = Child<QPushButton>(window, "pushButtonStopSearch");
    int row = -1;
    for (int attempt = 0; attempt < kSearchAttempts && row < 0; ++attempt) {
        QTest::mouseClick(search, Qt::LeftButton);
        QElapsedTimer waited;
        waited.start();
        while (row < 0 && !search->isEnabled() && waited.elapsed() < kSearchTimeoutMs) {
            QTest::qWait(50);
            for (int r = 0; r < table->rowCount(); ++r) {
                if (table->item(r, kColumnMac) != nullptr && table->item(r, kColumnMac)->text() == macText) {
                    row = r;
                }
            }
        }
    }
    if (stop->isEnabled()) {
        QTest::mouseClick(stop, Qt::LeftButton);
    }
    if (row >= 0) {
        table->selectRow(row);
    }
    return row;
}

bool WithDialog(ClientMainForm* window, int row, bool doubleClick,
                const std::function<void(SettingsDialog&)>& body, Qt::KeyboardModifiers modifiers)
{
    bool ran = false;
    QTimer::singleShot(0, window, [&]() {
        SettingsDialog* dialog = nullptr;
        QElapsedTimer waited;
        waited.start();
        while (dialog == nullptr && waited.elapsed() < kDialogOpenTimeoutMs) {
            dialog = qobject_cast<SettingsDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                QTest::qWait(20);
            }
        }
        if (dialog == nullptr) {
            return;
        }
        ran = true;
        body(*dialog);
        dialog->reject();
    });
    auto* table = Child<QTableWidget>(window, "tableWidgetDevices");
    if (doubleClick) {
        const QRect cell = table->visualItemRect(table->item(row, kColumnDeviceName));
        // Press, release, then the double-click on the item the press was
        // on. With Ctrl the press deselects the row first.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers, cell.center());
        QMouseEvent doubleClickEvent(QEvent::MouseButtonDblClick, cell.center(),
                                     table->viewport()->mapToGlobal(cell.center()), Qt::LeftButton,
                                     Qt::LeftButton, modifiers);
        QApplication::sendEvent(table->viewport(), &doubleClickEvent);
    } else {
        QTest::mouseClick(Child<QPushButton>(window, "pushButtonSettings"), Qt::LeftButton);
    }
    return ran;
}

} // namespace dialoglan
