// A worker's plain (unsynchronised) writes must be visible to its owner once
// the owner has seen the worker end, by any of wait(), isRunning() or
// isFinished(); ThreadSanitizer (scripts/sanitize.sh tsan) reports a race
// here if the join is not published. In every build the wrappers must keep
// QThread's results.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "tools/socket/c_abs_thread.h"

namespace {

class worker : public c_abs_thread
{
public:
    explicit worker(std::atomic<bool>* go = nullptr) : m_go(go) {}

    std::vector<int> data;  // written by the worker only, no lock

protected:
    void run() override
    {
        while (m_go && !m_go->load())
            QThread::msleep(1);
        for (int i = 0; i < 64; ++i)
            data.push_back(i * i);
    }

private:
    std::atomic<bool>* m_go;
};

int sum(const std::vector<int>& v)
{
    int s = 0;
    for (int x : v)
        s += x;
    return s;
}

}  // namespace

TEST(ThreadJoin, OwnerSeesTheWorkAfterEachWayOfSeeingTheEnd)
{
    const int expected = 85344;  // sum of i*i for i < 64

    // wait() without a limit, then the object is freed.
    {
        auto w = std::make_unique<worker>();
        EXPECT_FALSE(w->isRunning());
        w->start();
        EXPECT_TRUE(w->wait());
        EXPECT_TRUE(w->isFinished());
        EXPECT_EQ(sum(w->data), expected);
    }
    // wait(ms): false while the worker is held back, true once it ended.
    {
        std::atomic<bool> go{false};
        auto w = std::make_unique<worker>(&go);
        w->start();
        EXPECT_FALSE(w->wait(20ul));
        EXPECT_TRUE(w->isRunning());
        go = true;
        EXPECT_TRUE(w->wait(10000ul));
        EXPECT_EQ(sum(w->data), expected);
    }
    // Polling isRunning() / isFinished() until the end, as destructors do.
    {
        auto w = std::make_unique<worker>();
        w->start();
        while (w->isRunning())
            QThread::msleep(1);
        EXPECT_EQ(sum(w->data), expected);
        w->data.clear();
    }
    {
        auto w = std::make_unique<worker>();
        w->start();
        while (!w->isFinished())
            QThread::msleep(1);
        EXPECT_EQ(sum(w->data), expected);
        w->data.assign(3, 0);
    }
}
