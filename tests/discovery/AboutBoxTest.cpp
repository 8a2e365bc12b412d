// The search window's Help menu and icon: what a user sees of the tool itself.
#include "ClientMainForm.h"
#include "MessageBoxWatcher.h"
#include "ToolVersion.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

class AboutBoxTest : public QObject {
    Q_OBJECT
private slots:
    void helpAboutShowsNameAndVersion()
    {
        ClientMainForm window;
        window.show();

        QAction* about = nullptr;
        for (QAction* menuAction : window.menuBar()->actions()) {
            if (menuAction->text() == QStringLiteral("&Help") && menuAction->menu() != nullptr) {
                const QList<QAction*> items = menuAction->menu()->actions();
                about = items.isEmpty() ? nullptr : items.first();
            }
        }
        QVERIFY(about != nullptr);

        MessageBoxWatcher watcher;
        about->trigger();
        QCOMPARE(watcher.Titles(), QStringList{QStringLiteral("About QEL IP Tool")});
        const QString text = watcher.Texts().value(0);
        QVERIFY2(text.startsWith(QStringLiteral("QEL IP Tool\nVersion ") + QString::fromLatin1(kToolVersion)),
                 qPrintable(text));

        // The SVG icon is drawn, so its resource and Qt's SVG plugin are both there.
        QVERIFY(!window.windowIcon().pixmap(32, 32).isNull());
    }
};

QTEST_MAIN(AboutBoxTest)
#include "AboutBoxTest.moc"
