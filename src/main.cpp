#include "ClientMainForm.h"
#include "LogSetup.h"

#include <QApplication>

#include <easylogging++.h>

int main(int argc, char* argv[])
{
    el::Helpers::setArgs(argc, argv);
    ConfigureLogging();
    QApplication app(argc, argv);
    ClientMainForm window;
    window.show();
    return app.exec();
}
