// A stand-in for tarvoproxy under the daemon: it records each start, writes
// its pid file for `stop`, and exits with the code found in "child_exit_code"
// when that file exists. Otherwise it runs until its parent is gone, so it
// never outlives the daemon or test that started it.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

static long long now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int main(int argc, char** argv) {
    std::string self = argc > 0 ? argv[0] : "monitor_test_child";
    std::string name = self.substr(self.find_last_of('/') + 1);

    pid_t parent = ::getppid();
    {
        std::ofstream pid_file("./" + name + "_pid", std::ios::trunc);
        pid_file << ::getpid();
    }
    {
        std::ofstream starts("./child_starts", std::ios::app);
        starts << ::getpid() << ' ' << now_ms() << ' ' << (argc > 1 ? argv[1] : "") << '\n';
    }
    std::ifstream code_file("./child_exit_code");
    int code = 0;
    if (code_file >> code) return code;

    for (int i = 0; i < 20 * 120; i++) {
        if (::getppid() != parent) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}
