// A private X server for tests and benchmarks of GUI code: Xvfb on a display
// number nobody uses, started and stopped by its owner.
#pragma once

#include <string>

#include "platform/child_process.h"

namespace tarvo_test {

class XvfbDisplay {
  public:
    // Whether the Xvfb program is installed (package xvfb).
    static bool available();

    // Starts Xvfb with one screen of `screen` ("WxHxDepth") on a free display
    // and waits until it accepts connections. False when it cannot start.
    bool start(const std::string& screen = "1280x1024x24");
    // The display name (":N") once started.
    const std::string& name() const { return name_; }

  private:
    platform::ChildProcess xvfb_;
    std::string name_;
};

}  // namespace tarvo_test
