// TQlProxyControl: the helper-process control that the hidden form
// TQlProxyMain owns. It starts the wrapper (the monitor, which runs the
// proxy), ends the wrapper and the proxy by process name, and puts the
// browser's proxy setting back to what it was when the program started.
//
// Files, all in the program folder: "tarvospeed.ini" ([server]
// proxy_wrap_process, proxy_wrap_param, proxy_wrap_stop_param, proxy_process;
// [media] GrabDelay) and the proxy's "tarvoproxy.ini" ([proxy] listen_ip,
// listen_port).
//
// Lifecycle: construct, FormCreate() once (takes the snapshot), then any
// number of ServiceStart()/ServiceStop() pairs; ServiceStop() twice is
// harmless. Everything runs on the GUI thread.
#pragma once

#include <string>

#include "speed/start_log.h"

namespace tarvospeed {

constexpr const char* TARVOSPEED_INI = "tarvospeed.ini";
constexpr const char* TARVOPROXY_INI = "tarvoproxy.ini";
constexpr int DEFAULT_GRAB_DELAY = 3;
constexpr std::size_t PROCESS_NAME_CUT = 15;  // wanted names compare cut to this

// The browser's proxy setting as read from the registry.
struct TPROXY {
    bool Enabled = false;
    std::string Server;  // the whole "ProxyServer" text
    std::string Host;    // before the first ':'
    int Port = 0;        // after it when it is a number, else 0
};

// Fills Host and Port from `server` ("host:port"; a text without ':' gives no
// host, and a port only when the whole text is a number).
void split_proxy_server(const std::string& server, TPROXY& out);

class TQlProxyControl {
  public:
    TQlProxyControl(std::string program_folder, TStartLog& log);

    void FormCreate();
    bool GetIniData();
    bool GetProxyListen();
    bool StartProcess(const std::string& path, const std::string& params);
    void ServiceStart();
    void ServiceStop();
    void StopProcesses();

    static bool ProcessExists(const std::string& name);
    static void KillProcesses(const std::string& name);
    static void ReadIEProxy(TPROXY& proxy);
    static void ApplyIEProxy(const std::string& host, int port, bool enabled);
    void RestoreIEProxy();

    std::string WrapProcess, WrapParam, WrapStopParam, ProxyProcess;
    int GrabDelay = DEFAULT_GRAB_DELAY;
    std::string DownloadPage;  // [web] download_page: the about box's link
    std::string ListenIp;
    int ListenPort = 0;
    TPROXY SavedProxy;

  private:
    std::string folder_;
    TStartLog& log_;
};

}  // namespace tarvospeed
