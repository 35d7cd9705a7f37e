// A temporary process log for the queue tests: opened for one test, read back
// line by line, closed and removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "acl_msg.h"

class TempLog {
public:
    TempLog()
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("acl_queue_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "test.log").string();
        acl_msg_open(path_.c_str(), "log");
    }

    ~TempLog()
    {
        acl_msg_close();
        acl_debug_end();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    TempLog(const TempLog&) = delete;
    TempLog& operator=(const TempLog&) = delete;

    // Lines written so far, without their "\r\n".
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        std::ifstream in(path_, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            out.push_back(line);
        }
        return out;
    }

    // Lines that contain `text`.
    std::vector<std::string> grep(const std::string& text) const
    {
        std::vector<std::string> out;
        for (const std::string& line : lines())
            if (line.find(text) != std::string::npos)
                out.push_back(line);
        return out;
    }

private:
    std::filesystem::path dir_;
    std::string path_;
};
