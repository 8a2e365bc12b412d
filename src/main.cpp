#include "LogSetup.h"

#include <QApplication>
#include <QMainWindow>

#include <easylogging++.h>

int main(int argc, char* argv[])
{
    el::Helpers::setArgs(argc, argv);
    ConfigureLogging();
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("QEL IP Tool"));
    window.show();
    return app.exec();
}
