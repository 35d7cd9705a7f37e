// The desktop end of the proxy's pipe channel "P2P_CLIENT_PIPE": the pipe
// pair (TDoubleNamedPipe), the listener thread (TP2pMessageControler), the
// command table (TProtoList of TProtoData) and the program's handlers
// (TP2PProtoList: "RDY", "PRC", "CXT").
//
// Messages from the proxy: a three-letter command (letter case aside), its
// parameter text up to its NUL. Several messages in one read are each handled. "RDY" and "PRC"
// carry lines "KEY=value" joined by CR LF; "CXT" none. The stop word "STP" ends the listener.
// Messages to the proxy: "DEL" + "RES_PATH=" + path, with a NUL.
//
// Threads: the listener thread reads and dispatches; handlers never touch the
// library or windows, they post to a TMessageTarget, which hands the message
// to the program's main thread. Each posted message carries its own copy of
// the lines. SendCommand runs on the main thread; the two pipes are apart.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/named_pipe.h"

namespace tarvospeed {

constexpr const char* P2P_PIPE_NAME = "P2P_CLIENT_PIPE";
constexpr const char* P2P_PIPE_SERVER = ".";
constexpr const char* P2P_STOP_WORD = "STP";
constexpr int WM_USER = 1024;
constexpr int WM_VIDEO_READY = WM_USER + 3;     // "RDY": a finished download
constexpr int WM_VIDEO_PROGRESS = WM_USER + 4;  // "PRC": ignored by the window
constexpr int WM_PROXY_EXIT = WM_USER + 5;      // "CXT", or from outside: quit
constexpr int WM_HIDDEN_EXIT = WM_USER + 1;     // to TQlProxyMain: quit

// Where the handlers post: implemented by the program's main loop.
class TMessageTarget {
  public:
    virtual ~TMessageTarget() = default;
    // Called on the listener thread; must only queue the message.
    virtual void Post(int message, std::vector<std::string> lines) = 0;
};

class TDoubleNamedPipe {
  public:
    // Closes, then creates (server) or opens (client) the pair. false with
    // the message text in `error`: "建立输入命名管道失败！",
    // "建立输出命名管道失败！", "打开输入命名管道失败！", "打开输出命名管道失败！".
    bool Open(bool is_server, const std::string& server_name, const std::string& stop_word,
              const std::string& base_name, std::string* error = nullptr);
    void Close();
    // false ("写入命名管道失败！") on an error or a short write.
    bool Write(const void* bytes, std::size_t len);
    // Reads until `stop` is set or the stop word arrives. false when the
    // pipes could not be opened (the reason in `error`).
    bool Listen(bool is_server, const std::string& server_name, const std::atomic<bool>& stop,
                const std::string& stop_word, const std::string& base_name,
                std::string* error = nullptr);

    std::function<void(const char* bytes, std::size_t len)> OnData;
    std::function<void()> OnIdle;

  private:
    platform::NamedPipe read_, write_;  // this end's pipe_in and pipe_out
    std::mutex write_mu_;               // writers against a reopen
    bool is_server_ = true;
    std::string server_name_, stop_word_, base_name_;
};

struct TProtoData {
    std::string Name;
    std::function<void(const std::string& param)> Handler;
};

class TProtoList {
  public:
    void Register(const std::string& name, TProtoData data);
    // Messages of 2 bytes or less and unregistered commands are ignored.
    void Dispatch(const char* bytes, std::size_t len) const;

  private:
    std::vector<std::pair<std::string, TProtoData>> list_;
};

class TP2PProtoList {
  public:
    explicit TP2PProtoList(TMessageTarget& target) : target_(target) {}
    void Register(TProtoList& list);
    void OnReady(const std::string& param);
    void OnProgress(const std::string& param);
    void OnExit(const std::string& param);

  private:
    TMessageTarget& target_;
};

class TP2pMessageControler {
  public:
    explicit TP2pMessageControler(TMessageTarget& target);
    ~TP2pMessageControler();  // stops and joins
    TP2pMessageControler(const TP2pMessageControler&) = delete;
    TP2pMessageControler& operator=(const TP2pMessageControler&) = delete;

    void Resume();
    void Stop() { stop_ = true; }
    // Waits for the thread to leave its loop (a read returns within its wait).
    void Join();
    // "DEL" + items joined by "&" + NUL in one write; false when nothing was
    // written (no pipe, no proxy, a write error), which callers may ignore.
    bool SendCommand(const std::string& command, const std::vector<std::string>& items);
    bool Terminated() const { return terminated_; }
    // Why the pipes could not be made, when they could not.
    std::string OpenError() const;

    TProtoList& Commands() { return commands_; }

  private:
    void Execute();

    TProtoList commands_;
    TP2PProtoList protos_;
    mutable std::mutex mu_;  // guards pipe_ and error_ against the thread's end
    std::unique_ptr<TDoubleNamedPipe> pipe_;
    std::string error_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};

// The value of `key` in "KEY=value" lines, or "".
std::string line_value(const std::vector<std::string>& lines, const std::string& key);

}  // namespace tarvospeed
