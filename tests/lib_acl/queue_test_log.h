// A temporary process log for the queue tests: opened for one test, read back
// line by line, closed and removed afterwards.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "acl_msg.h"
#include "test_support.h"

class TempLog {
  public:
    TempLog() : path_(dir_.file("test.log")) { acl_msg_open(path_.c_str(), "log"); }

    ~TempLog() {
        acl_msg_close();
        acl_debug_end();
    }

    TempLog(const TempLog&) = delete;
    TempLog& operator=(const TempLog&) = delete;

    // Lines written so far, without their "\r\n".
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::istringstream in(tarvo_test::read_file(path_));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            out.push_back(line);
        }
        return out;
    }

    // Lines that contain `text`.
    std::vector<std::string> grep(const std::string& text) const {
        std::vector<std::string> out;
        for (const std::string& line : lines())
            if (line.find(text) != std::string::npos) out.push_back(line);
        return out;
    }

  private:
    tarvo_test::TempDir dir_;  // first: the log lives in it
    std::string path_;
};
