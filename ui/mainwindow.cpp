#include "mainwindow.h"

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , windowTitleText("UMX control panel") {
    windowTitleText.append(" 1.5.2");
    setWindowTitle(windowTitleText);
}
