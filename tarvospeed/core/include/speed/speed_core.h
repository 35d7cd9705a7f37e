// TSpeedCore: the desktop program without its windows. The forms (or the
// command-line face) own one and call it; it reaches them only through the
// callbacks below, always on the thread that runs ProcessMessages().
//
// Lifecycle: Create() (single instance, settings, snapshot, library), then
// StartAcceleration() / StopAcceleration() as the user toggles, then Finish()
// (the final ServiceStop). Messages from the proxy's pipe and from other
// programs (the endpoints "TQlProxyMain" for WM_USER+1 and
// "TfrmVideoPreview" for WM_USER+5) are queued and handled by
// ProcessMessages() on the caller's thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_endpoint.h"
#include "platform/named_mutex.h"
#include "speed/p2p_message.h"
#include "speed/proxy_control.h"
#include "speed/setting_data.h"
#include "speed/start_log.h"
#include "speed/video_manager.h"

namespace tarvospeed {

constexpr const char* APP_MUTEX = "QlProxy";
constexpr const char* HIDDEN_FORM = "TQlProxyMain";
constexpr const char* MAIN_FORM = "TfrmVideoPreview";
constexpr const char* ALERT_HEADER = "视频下载完毕!";

class TSpeedCore : public TMessageTarget {
  public:
    explicit TSpeedCore(std::string program_folder);
    ~TSpeedCore() override;

    // 0 when this is the only instance and it is set up; 1 when another
    // instance holds "QlProxy" (nothing else is done); -1 when the mutex
    // could not be made.
    int Create();

    // The tray's "启动加速(&S)": a new pipe listener, then ServiceStart.
    void StartAcceleration();
    // "停止加速(&S)": the listener stopped, then ServiceStop.
    void StopAcceleration();
    bool Accelerating() const { return accelerating_; }
    // The last ServiceStop, at the end of the program.
    void Finish();

    // Handles what was posted, waiting up to `wait_ms` for the first. false
    // once the program is to end (WM_USER+1, WM_USER+5, "CXT").
    bool ProcessMessages(int wait_ms);
    bool Quitting() const { return quitting_; }
    void Post(int message, std::vector<std::string> lines) override;

    // Deletes the files from disk, tells the proxy ("DEL") for each one
    // deleted, and drops their library entries unless `keep_entries` (an
    // entry whose file is gone shows nowhere and is dropped at the next
    // start). The count deleted.
    int DeleteFromDisk(const std::vector<std::string>& paths, bool keep_entries = false);

    std::string VideosFile() const { return folder_ + VIDEOS_XML; }
    std::string SpecialsFile() const { return folder_ + SPECIALS_XML; }
    std::string FiltersFile() const { return folder_ + VIDEOFILTERS_XML; }
    int SaveLibrary() { return Manager->SaveLibrary(VideosFile()); }

    // The finished-download alert: header, text, and the video.
    std::function<void(const std::string& header, const std::string& text, TVideoItem& video)>
        OnVideoReady;
    // Anything the user should learn of (a thumbnail that failed...).
    std::function<void(const std::string& text)> OnNotice;

    TStartLog Log;
    TQlProxyControl Proxy;
    std::unique_ptr<TVideoManager> Manager;
    TP2pMessageControler* Pipe() { return pipe_.get(); }

  private:
    void HandleVideoReady(const std::vector<std::string>& lines);
    void StartPipeListener();
    void StopPipeListener();
    void PollEndpoints();

    std::string folder_;
    platform::NamedMutex mutex_;
    platform::MessageEndpoint hidden_, main_;
    std::unique_ptr<TP2pMessageControler> pipe_;
    bool accelerating_ = false;
    bool quitting_ = false;

    std::mutex queue_mu_;
    std::condition_variable queue_cv_;
    std::deque<std::pair<int, std::vector<std::string>>> queue_;
};

}  // namespace tarvospeed
