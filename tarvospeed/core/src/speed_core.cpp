#include "speed/speed_core.h"

#include <chrono>

#include "platform/current_folder.h"
#include "platform/folder_walk.h"
#include "speed/gbk_xml.h"

namespace tarvospeed {

TSpeedCore::TSpeedCore(std::string program_folder)
    : Proxy(program_folder, Log), folder_(std::move(program_folder)) {}

TSpeedCore::~TSpeedCore() { StopPipeListener(); }

int TSpeedCore::Create() {
    int m = mutex_.create(APP_MUTEX);
    if (m != 0) return m;
    platform::set_current_folder(folder_);
    LoadSettings(setting_data(), folder_);
    Proxy.FormCreate();
    Proxy.GetIniData();  // GrabDelay for the thumbnails
    Manager = std::make_unique<TVideoManager>(setting_data().CachePath, Proxy.GrabDelay);
    Manager->LoadLibrary(FiltersFile(), VideosFile());
    std::string error;
    if (Manager->Categories.LoadFromXml(SpecialsFile(), &error) != 0 && OnNotice) OnNotice(error);
    // Other programs may tell us to quit; a name already taken costs only that.
    hidden_.open(HIDDEN_FORM);
    main_.open(MAIN_FORM);
    Log.Clear();
    Log.Add("program starting:", "after main form created.");
    Log.Add("program starting:", "after all form created.");
    return 0;
}

void TSpeedCore::StartPipeListener() {
    StopPipeListener();
    pipe_ = std::make_unique<TP2pMessageControler>(*this);
    pipe_->Resume();
}

void TSpeedCore::StopPipeListener() {
    if (!pipe_) return;
    // Waited for, so that the next listener finds the pipe names free.
    pipe_->Stop();
    pipe_->Join();
    pipe_.reset();
}

void TSpeedCore::StartAcceleration() {
    StartPipeListener();
    Proxy.ServiceStart();
    accelerating_ = true;
}

void TSpeedCore::StopAcceleration() {
    StopPipeListener();
    Proxy.ServiceStop();
    accelerating_ = false;
}

void TSpeedCore::Finish() {
    Log.Add("program starting:", "before service stop.");
    Proxy.ServiceStop();
    Log.Add("program starting:", "after service stop.");
    StopPipeListener();
}

void TSpeedCore::Post(int message, std::vector<std::string> lines) {
    {
        std::lock_guard<std::mutex> g(queue_mu_);
        queue_.emplace_back(message, std::move(lines));
    }
    queue_cv_.notify_one();
}

void TSpeedCore::PollEndpoints() {
    int msg = 0;
    while (hidden_.is_open() && hidden_.receive(&msg, 0) == 1) {
        if (msg == WM_HIDDEN_EXIT) {
            Log.Add("OnMyMessage", "before application terminate");
            quitting_ = true;
            Log.Add("OnMyMessage", "after application terminate");
        }
    }
    while (main_.is_open() && main_.receive(&msg, 0) == 1)
        if (msg == WM_PROXY_EXIT) Post(WM_PROXY_EXIT, {});
}

bool TSpeedCore::ProcessMessages(int wait_ms) {
    PollEndpoints();
    std::deque<std::pair<int, std::vector<std::string>>> work;
    {
        std::unique_lock<std::mutex> g(queue_mu_);
        // Waits in slices so that the endpoints are heard as well.
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
        while (queue_.empty() && !quitting_ && std::chrono::steady_clock::now() < until) {
            queue_cv_.wait_for(g, std::chrono::milliseconds(50));
            g.unlock();
            PollEndpoints();
            g.lock();
        }
        work.swap(queue_);
    }
    for (auto& [message, lines] : work) {
        if (message == WM_VIDEO_READY) {
            HandleVideoReady(lines);
        } else if (message == WM_PROXY_EXIT) {
            Proxy.ServiceStop();
            quitting_ = true;
        }
    }
    return !quitting_;
}

void TSpeedCore::HandleVideoReady(const std::vector<std::string>& lines) {
    // The proxy sends the page's title in the Chinese code page; a title that
    // is not GBK text is taken as it came.
    std::string caption = line_value(lines, "CAPTION"), decoded;
    if (gbk_to_utf8(caption, decoded) == 0) caption = decoded;
    if (caption.empty()) caption = UNNAMED_TITLE;
    std::string path = line_value(lines, "PATH");
    std::string text = "\r\n视频名称:  " + caption + "\r\n视频已经保存到:  " + path;
    auto item = std::make_unique<TVideoItem>();
    item->Title = caption;
    item->Path = path;
    std::string error;
    if (Manager->GrabThumbnail(*item, error) != 0 && OnNotice) OnNotice(error);
    item->ReadFileData();
    TVideoItem* shown = item.get();
    if (!Manager->AddVideo(std::move(item))) shown = Manager->Videos.FindByPath(path);
    SaveLibrary();
    if (OnVideoReady && shown) OnVideoReady(ALERT_HEADER, text, *shown);
}

int TSpeedCore::DeleteFromDisk(const std::vector<std::string>& paths, bool keep_entries) {
    int deleted = 0;
    for (const std::string& path : paths) {
        if (platform::file_remove(path) != 0) {
            if (OnNotice) OnNotice("cannot delete " + path);
            continue;
        }
        ++deleted;
        if (pipe_) pipe_->SendCommand("DEL", {"RES_PATH=" + path});
        if (TVideoItem* v = Manager->Videos.FindByPath(path); v && !keep_entries)
            Manager->Videos.Remove(v);
    }
    if (deleted) SaveLibrary();
    return deleted;
}

}  // namespace tarvospeed
