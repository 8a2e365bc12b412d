#include <QGuiApplication>
#include <gtest/gtest.h>

// Painting into images needs a GUI application object (fonts, pens).
int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
