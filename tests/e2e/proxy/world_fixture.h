// One nginx and one tarvoproxy in one temporary folder for a whole test
// suite: made before its first test, stopped and removed after its last.
#pragma once

#include <gtest/gtest.h>

#include "harness.h"

namespace proxy_test {

class ProxyWorldTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        nginx_ = new Nginx(dir_->path());
        proxy_ = new TarvoProxy(dir_->path());
    }
    static void TearDownTestSuite() {
        delete proxy_;
        delete nginx_;
        delete dir_;
        proxy_ = nullptr;
        nginx_ = nullptr;
        dir_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(nginx_->ok()) << read_file(dir_->path() / "error.log");
        ASSERT_TRUE(proxy_->ok()) << proxy_->log();
    }
    static inline TempDir* dir_ = nullptr;
    static inline Nginx* nginx_ = nullptr;
    static inline TarvoProxy* proxy_ = nullptr;
};

}  // namespace proxy_test
