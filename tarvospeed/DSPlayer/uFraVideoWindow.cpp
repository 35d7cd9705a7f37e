#include "uFraVideoWindow.h"

#include <QMouseEvent>
#include <QPalette>

TfraVideoWindow::TfraVideoWindow(QWidget* parent) : QWidget(parent) {
    setObjectName("fraVideoWindow");
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setMouseTracking(true);
    setMinimumSize(160, 120);
    surface_ = new TVideoSurface(this);
    surface_->setMouseTracking(true);
    surface_->setGeometry(rect());
    timHideMouse.setObjectName("timHideMouse");
    timHideMouse.setInterval(6000);
    timHideMouse.setSingleShot(true);
    connect(&timHideMouse, &QTimer::timeout, this, &TfraVideoWindow::mouseIdle);
}

void TfraVideoWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit clicked();
}

void TfraVideoWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit doubleClicked();
}

void TfraVideoWindow::mouseMoveEvent(QMouseEvent*) { emit mouseMoved(); }

void TfraVideoWindow::enterEvent(QEnterEvent*) { emit mouseEntered(); }

void TfraVideoWindow::resizeEvent(QResizeEvent*) { surface_->setGeometry(rect()); }
