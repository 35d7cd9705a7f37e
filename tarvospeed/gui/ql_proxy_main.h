// TQlProxyMain: the hidden first window ("塔沃—视频加速器"), never shown. It
// owns the program's core, hands the core's queued messages to the windows
// on the GUI thread, and ends the application on WM_USER+1, WM_USER+5 or
// the proxy's "CXT" (the core's Quitting()).
#pragma once

#include <QTimer>
#include <QWidget>

#include "speed/speed_core.h"

namespace tarvospeed {

constexpr int MESSAGE_PUMP_MS = 50;

class TQlProxyMain : public QWidget {
    Q_OBJECT
  public:
    explicit TQlProxyMain(TSpeedCore& core);

  private:
    TSpeedCore& core_;
    QTimer pump_;
};

}  // namespace tarvospeed
