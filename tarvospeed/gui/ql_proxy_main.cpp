#include "ql_proxy_main.h"

#include <QApplication>

namespace tarvospeed {

TQlProxyMain::TQlProxyMain(TSpeedCore& core) : core_(core) {
    setObjectName("QlProxyMain");
    setWindowTitle("塔沃—视频加速器");
    connect(&pump_, &QTimer::timeout, this, [this] {
        if (!core_.ProcessMessages(0)) QApplication::quit();
    });
    pump_.start(MESSAGE_PUMP_MS);
}

}  // namespace tarvospeed
