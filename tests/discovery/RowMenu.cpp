#include "RowMenu.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

QStringList ChooseFromRowMenu(QTableWidget* table, int row, const char* actionName)
{
    QStringList texts;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            return;
        }
        poll.stop();
        for (const QAction* action : menu->actions()) {
            texts << action->text();
        }
        menu->setActiveAction(menu->findChild<QAction*>(QString::fromLatin1(actionName)));
        QTest::keyClick(menu, Qt::Key_Return);
    });
    poll.start();
    const QPoint at = table->visualItemRect(table->item(row, 1)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
    QApplication::sendEvent(table->viewport(), &event);
    return texts;
}
