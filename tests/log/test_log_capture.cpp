// LogCapture is what every other test relies on to see log lines: check that it
// sees statements from several threads, that clear() works, and that the
// logger is silent again once no capture is alive.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/log_capture.h"
#include "log/log.h"

TEST(LogCapture, CollectsStatementsFromManyThreadsAndStopsAfterwards)
{
    {
        LogCapture cap;
        EXPECT_TRUE(ILogManager::get_instance()->is_logger_enabled(0, LOG_LEVEL_TRACE));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t] {
                // Fewer than the lines one statement may write a second.
                for (int i = 0; i < 12; ++i)
                    LOG_DEBUG("worker %d line %d", t, i);
            });
        for (auto& th : threads)
            th.join();
        for (int t = 0; t < 4; ++t)
            EXPECT_TRUE(cap.contains("worker " + std::to_string(t) + " line 11"));
        int count = 0;
        for (const auto& l : cap.lines())
            if (l.find("worker ") != std::string::npos)
                ++count;
        EXPECT_EQ(count, 48);

        LOG_TRACE("trace marker");
        EXPECT_TRUE(cap.contains("LOG_TRACE trace marker ( tests/log/test_log_capture.cpp ) : "));
        cap.clear();
        EXPECT_TRUE(cap.lines().empty());
        EXPECT_FALSE(cap.contains("trace marker"));

        // A nested capture sees lines too, and the outer one keeps seeing them.
        {
            LogCapture inner;
            LOG_WARN("nested %s", "line");
            EXPECT_TRUE(inner.contains("LOG_WARN  nested line"));
        }
        LOG_ERROR("after inner");
        EXPECT_TRUE(cap.contains("nested line"));
        EXPECT_TRUE(cap.contains("after inner"));
    }
    EXPECT_FALSE(ILogManager::get_instance()->is_logger_enabled(0, LOG_LEVEL_FATAL));

    LogCapture again;
    LOG_INFO("second capture %d", 2);
    EXPECT_TRUE(again.contains("second capture 2"));
}
