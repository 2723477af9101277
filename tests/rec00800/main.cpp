#include "PKG_REC00800.h"

#include <erpfwui/shell/shellwindow.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QMainWindow mainWindow;
    auto *area = new QMdiArea(&mainWindow);
    mainWindow.setCentralWidget(area);
    mainWindow.resize(1024, 700);
    erp::setShellWindow(&mainWindow, area);
    mainWindow.show();
    mainWindow.activateWindow();
    Initialize();
    const int result = RUN_ALL_TESTS();
    Finalize();
    return result;
}
