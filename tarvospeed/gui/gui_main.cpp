#include "gui_main.h"

#include <QApplication>
#include <QSessionManager>

#include "frm_video_preview.h"
#include "ql_proxy_main.h"

namespace tarvospeed {

int run_gui(TSpeedCore& core, int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("塔沃—视频加速器");
    QApplication::setQuitOnLastWindowClosed(false);
    TQlProxyMain hidden(core);
    TfrmVideoPreview main_window(core);
    core.Log.Add("program starting:", "after main form created.");
    core.Log.Add("program starting:", "after all form created.");
    QObject::connect(&main_window, &TfrmVideoPreview::ExitRequested, &app, &QApplication::quit);
    core.Log.Add("program starting:", "before start service.");
    core.StartAcceleration();
    main_window.UpdateStartItem();
    // The desktop session ending: allowed, and the helpers stopped first.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [&core, &main_window] {
        main_window.MarkSessionEnding();
        core.Proxy.ServiceStop();
    });
    core.Log.Add("program starting:", "after start service.");
    // A desktop without a tray has no other way to reach the program.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) main_window.ShowMainWindow();
    core.Log.Add("program starting:", "before application.run.");
    int rc = app.exec();
    core.Log.Add("program starting:", "after application.run.");
    core.Finish();
    return rc;
}

}  // namespace tarvospeed
