// The service settings record of tarvoproxy: the values of tarvoproxy.ini and
// the registry, and the core objects every subsystem of the proxy reaches.
//
// Filled once during start-up, before any thread that reads it exists. Two
// fields change later: `client_id`, written by the P2P login callback, and `uploader_args`,
// replaced once when the client id becomes known (service_set_uploader_args).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct ACL_WORKQ;
struct AIO_PROXY;
struct HTTP_CTRL;

#define SERVICE_STRING_MAX 255          // bytes kept of each string setting
#define SERVICE_MB (1048576ULL)         // bytes in one MiB of MaxSpace
#define SERVICE_DEFAULT_MAX_SPACE 1000  // MaxSpace in MiB when the registry has none

// Built-in endpoints of this build: the session and logging servers of the
// deployment run on the same machine unless tarvoproxy.ini names others.
#define SERVICE_DEFAULT_LISTEN_IP "127.0.0.1"
#define SERVICE_DEFAULT_LISTEN_PORT 28081
#define SERVICE_DEFAULT_HTTP_MAX_THREADS 5
#define SERVICE_DEFAULT_SESSION_IP "127.0.0.1"
#define SERVICE_DEFAULT_SESSION_PORT 7000
#define SERVICE_DEFAULT_LOGSVR_IP "127.0.0.1"
#define SERVICE_DEFAULT_LOGSVR_PORT 8887

struct SERVICE_CONF {
    std::string program_folder;  // folder of the executable, ends with "/"
    std::string config_path;     // program folder + base name + ".ini"
    std::string log_path;        // the service log

    // tarvoproxy.ini
    std::string debug_level;  // [debug] debug_level
    std::string listen_ip;    // [proxy] listen_ip
    int listen_port = SERVICE_DEFAULT_LISTEN_PORT;
    int http_max_threads = SERVICE_DEFAULT_HTTP_MAX_THREADS;
    std::string session_ip;  // [server] session_ip
    int session_port = SERVICE_DEFAULT_SESSION_PORT;
    std::string logsvr_ip;  // [server] logsvr_ip
    int logsvr_port = SERVICE_DEFAULT_LOGSVR_PORT;
    int use_p2p = 0;    // [p2p] use_p2p
    int cap_title = 0;  // [p2p] cap_title

    // Registry
    std::string cache_path;        // absolute, ends with "/"
    std::uint64_t max_space = 0;   // cache limit in bytes
    std::uint64_t space_left = 0;  // seed of the space-left figure
    std::atomic<std::uint32_t> client_id{0};

    // Crash hand-off: the uploader and its arguments.
    std::string uploader_path;
    std::string uploader_args;

    // Core objects, created by service_init.
    ACL_WORKQ* workq = nullptr;
    HTTP_CTRL* ctrl = nullptr;   // the store controller
    AIO_PROXY* proxy = nullptr;  // the HTTP proxy
};

// The one record of the process.
SERVICE_CONF& service_conf();

// Reads tarvoproxy.ini (conf->config_path) and the registry into `conf`,
// computes the cache folder from conf->program_folder and creates it with its
// missing parents. String keys that read empty are logged and get their
// defaults. Returns 0, or -1 when the cache folder cannot be created.
int _read_config(SERVICE_CONF* conf);

// The cache folder for a CachePath value: an absolute path (or a Windows path
// with a drive, whose drive is dropped) is used as it is, anything else is
// taken relative to the program folder. Always ends with "/".
std::string service_cache_folder(const std::string& program_folder, const std::string& value);
