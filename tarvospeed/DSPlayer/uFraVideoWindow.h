// TfraVideoWindow: the black video area with the surface mpv draws into.
//
// A click asks for pause/resume, a double-click for the full-screen toggle
// (the host undoes the click that came with it by toggling pause once more).
// In full-screen mode the host counts mouse moves and restarts
// `timHideMouse`; when it fires (6 s without a restart) `mouseIdle` asks the
// host to hide the cursor and the controls.
#pragma once

#include <QTimer>
#include <QWidget>

#include "VideoSurface.h"

class TfraVideoWindow : public QWidget {
    Q_OBJECT
  public:
    explicit TfraVideoWindow(QWidget* parent = nullptr);

    TVideoSurface* Surface() const { return surface_; }
    QTimer timHideMouse;

  signals:
    void clicked();
    void doubleClicked();
    void mouseMoved();
    void mouseEntered();
    void mouseIdle();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    TVideoSurface* surface_;
};
