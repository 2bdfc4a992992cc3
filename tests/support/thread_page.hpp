// The calling thread's code page while a ThreadPage lives; the platform's page again after it.
#pragma once

#include <gtest/gtest.h>

#include "syskit/text.hpp"

struct ThreadPage {
    explicit ThreadPage(int page) { EXPECT_TRUE(syskit::text::set_code_page(page)) << page; }
    ~ThreadPage() { syskit::text::set_code_page(0); }
    ThreadPage(const ThreadPage&) = delete;
};
