#include "speed/p2p_message.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "speed/text_util.h"

namespace tarvospeed {

namespace {

constexpr int READ_WAIT_MS = 100;  // how long a stop may wait on a silent proxy
constexpr auto PACE = std::chrono::milliseconds(10);

std::string pipe_prefix(const std::string& server, const std::string& base) {
    return "\\\\" + server + "\\PIPE\\" + base;
}

}  // namespace

bool TDoubleNamedPipe::Open(bool is_server, const std::string& server_name,
                            const std::string& stop_word, const std::string& base_name,
                            std::string* error) {
    Close();
    is_server_ = is_server;
    server_name_ = server_name;
    stop_word_ = stop_word;
    base_name_ = base_name;
    const std::string in = pipe_prefix(server_name, base_name) + "_in";
    const std::string out = pipe_prefix(server_name, base_name) + "_out";
    platform::NamedPipe reads, writes;
    // The server reads "_in" and writes "_out"; a client the other way round.
    if ((is_server ? reads.create(in, platform::PipeAccess::read)
                   : reads.open(out, platform::PipeAccess::read)) != 0) {
        if (error) *error = is_server ? "建立输入命名管道失败！" : "打开输入命名管道失败！";
        return false;
    }
    if ((is_server ? writes.create(out, platform::PipeAccess::write)
                   : writes.open(in, platform::PipeAccess::write)) != 0) {
        if (error) *error = is_server ? "建立输出命名管道失败！" : "打开输出命名管道失败！";
        return false;
    }
    read_ = std::move(reads);
    std::lock_guard<std::mutex> g(write_mu_);
    write_ = std::move(writes);
    return true;
}

void TDoubleNamedPipe::Close() {
    read_.close();
    std::lock_guard<std::mutex> g(write_mu_);
    write_.close();
}

bool TDoubleNamedPipe::Write(const void* bytes, std::size_t len) {
    std::lock_guard<std::mutex> g(write_mu_);
    return write_.valid() && write_.write(bytes, len) == static_cast<long>(len);
}

bool TDoubleNamedPipe::Listen(bool is_server, const std::string& server_name,
                              const std::atomic<bool>& stop, const std::string& stop_word,
                              const std::string& base_name, std::string* error) {
    if (!Open(is_server, server_name, stop_word, base_name, error)) return false;
    char buf[platform::PIPE_MESSAGE_MAX + 1];
    auto idle = [&] {
        if (OnIdle) OnIdle();
    };
    while (!stop) {
        // A silent proxy never blocks a stop for longer than one wait.
        int ready = read_.wait_readable(READ_WAIT_MS);
        if (ready == 0) {
            idle();
            continue;
        }
        long n = ready < 0 ? -1 : read_.read(buf, platform::PIPE_MESSAGE_MAX);
        if (n < 0) {
            if (!is_server) Open(false, server_name, stop_word, base_name);
            idle();
            if (stop) break;
            std::this_thread::sleep_for(PACE);
        } else if (n > 0) {
            // Messages sent close together arrive in one read: each one up to
            // its NUL is handed on, so none is lost behind the first. A piece
            // without its NUL still ends at the read's end.
            buf[n] = '\0';
            bool stopped = false;
            for (long at = 0; at < n && !stopped;) {
                std::size_t len = std::strlen(buf + at);
                std::size_t with_nul =
                    std::min<std::size_t>(len + 1, static_cast<std::size_t>(n - at));
                if (stop_word == buf + at)
                    stopped = true;
                else if (len > 0 && OnData)
                    OnData(buf + at, with_nul);
                at += static_cast<long>(len + 1);
            }
            if (stopped) break;
            idle();
            if (stop) break;
            std::this_thread::sleep_for(PACE);
        } else {
            idle();
        }
    }
    return true;
}

void TProtoList::Register(const std::string& name, TProtoData data) {
    list_.emplace_back(name, std::move(data));
}

void TProtoList::Dispatch(const char* bytes, std::size_t len) const {
    if (len <= 2) return;
    std::string command(bytes, 3);
    std::string param;
    if (len > 3) param.assign(bytes + 3, strnlen(bytes + 3, len - 3));
    for (const auto& [name, data] : list_) {
        if (same_text(name, command)) {
            if (data.Handler) data.Handler(param);
            return;
        }
    }
}

void TP2PProtoList::Register(TProtoList& list) {
    list.Register("RDY", {"RDY", [this](const std::string& p) { OnReady(p); }});
    list.Register("PRC", {"PRC", [this](const std::string& p) { OnProgress(p); }});
    list.Register("CXT", {"CXT", [this](const std::string& p) { OnExit(p); }});
}

void TP2PProtoList::OnReady(const std::string& param) {
    if (!param.empty()) target_.Post(WM_VIDEO_READY, split_lines(param));
}

void TP2PProtoList::OnProgress(const std::string& param) {
    if (!param.empty()) target_.Post(WM_VIDEO_PROGRESS, split_lines(param));
}

void TP2PProtoList::OnExit(const std::string&) { target_.Post(WM_PROXY_EXIT, {}); }

TP2pMessageControler::TP2pMessageControler(TMessageTarget& target)
    : protos_(target), pipe_(std::make_unique<TDoubleNamedPipe>()) {
    protos_.Register(commands_);
    pipe_->OnData = [this](const char* b, std::size_t n) { commands_.Dispatch(b, n); };
}

TP2pMessageControler::~TP2pMessageControler() {
    Stop();
    Join();
}

void TP2pMessageControler::Resume() {
    if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

void TP2pMessageControler::Join() {
    if (thread_.joinable()) thread_.join();
}

void TP2pMessageControler::Execute() {
    std::string error;
    pipe_->Listen(true, P2P_PIPE_SERVER, stop_, P2P_STOP_WORD, P2P_PIPE_NAME, &error);
    std::lock_guard<std::mutex> g(mu_);
    error_ = error;
    pipe_.reset();  // closes the pipes
    terminated_ = true;
}

bool TP2pMessageControler::SendCommand(const std::string& command,
                                       const std::vector<std::string>& items) {
    std::lock_guard<std::mutex> g(mu_);
    if (!pipe_) return false;
    std::string text = command;
    for (std::size_t i = 0; i < items.size(); ++i) text += (i ? "&" : "") + items[i];
    text += '\0';
    return pipe_->Write(text.data(), text.size());
}

std::string TP2pMessageControler::OpenError() const {
    std::lock_guard<std::mutex> g(mu_);
    return error_;
}

std::string line_value(const std::vector<std::string>& lines, const std::string& key) {
    for (const std::string& line : lines) {
        std::size_t eq = line.find('=');
        if (eq != std::string::npos && same_text(line.substr(0, eq), key))
            return line.substr(eq + 1);
    }
    return "";
}

}  // namespace tarvospeed
