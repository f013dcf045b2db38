#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "Desktop/Json.h"
#include "Desktop/Observable.h"
#include "Desktop/Unicode.h"
#include "Desktop/Url.h"
#include "TestSupport.h"

using namespace desktop;

class RunLoopTests : public testing_support::SimDesktopTest {};

TEST_F(RunLoopTests, TimersFireInDueOrderOnTheVirtualClock) {
    std::vector<std::string> fired;
    auto poll = sim.runLoop().schedule(0.4, Repeat::yes, [&] { fired.push_back("poll"); });
    auto debounce = sim.runLoop().schedule(1.5, Repeat::no, [&] { fired.push_back("debounce"); });
    auto cancelled = sim.runLoop().schedule(0.1, Repeat::no, [&] { fired.push_back("cancelled"); });
    cancelled.invalidate();
    sim.advance(0.39);
    EXPECT_TRUE(fired.empty());
    sim.advance(0.01);  // due time reached exactly
    EXPECT_EQ(fired, std::vector<std::string>{"poll"});
    sim.advance(1.2);
    EXPECT_EQ(fired, (std::vector<std::string>{"poll", "poll", "poll", "debounce", "poll"}));
    EXPECT_FALSE(debounce.isValid());
    EXPECT_TRUE(poll.isValid());
    EXPECT_DOUBLE_EQ(sim.runLoop().now(), 1.6);
}

TEST_F(RunLoopTests, DroppingTheHandleOrInvalidatingFromTheActionStopsATimer) {
    int count = 0;
    Timer self;
    self = sim.runLoop().schedule(1, Repeat::yes, [&] {
        if (++count == 2) self.invalidate();
    });
    {
        auto scoped = sim.runLoop().schedule(1, Repeat::yes, [&] { count += 100; });
    }
    sim.advance(10);
    EXPECT_EQ(count, 2);
}

TEST_F(RunLoopTests, AsyncFromAnyThreadRunsOnDrainInOrder) {
    std::vector<int> order;
    std::thread other([&] {
        for (int i = 0; i < 3; ++i) sim.runLoop().async([&order, i] { order.push_back(i); });
    });
    other.join();
    sim.runLoop().async([&] { sim.runLoop().async([&] { order.push_back(9); }); });
    EXPECT_TRUE(order.empty());
    sim.drain();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 9}));
}

TEST_F(RunLoopTests, ExecutorWorkComesBackThroughTheMainQueue) {
    std::atomic<bool> onWorker{false};
    bool delivered = false;
    const auto mainThread = std::this_thread::get_id();
    sim.executor().post([&] {
        onWorker = std::this_thread::get_id() != mainThread;
        sim.runLoop().async([&] { delivered = true; });
    });
    EXPECT_TRUE(sim.settle(5));
    EXPECT_TRUE(onWorker);
    EXPECT_TRUE(delivered);
}

TEST(RealRunLoopTests, RunsTimersAndStops) {
    RunLoop loop(Clock::real);
    int ticks = 0;
    auto timer = loop.schedule(0.01, Repeat::yes, [&] {
        if (++ticks == 3) loop.stop();
    });
    loop.run(5);
    EXPECT_EQ(ticks, 3);
}

TEST(RealRunLoopTests, ATimerBehindItsCadenceFiresOnceATurnWithoutMakingUpMissedTicks) {
    RunLoop loop(Clock::real);
    int ticks = 0;
    auto slow = loop.schedule(0.01, Repeat::yes, [&] {
        ++ticks;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the tick's own work
    });
    // The loop was busy elsewhere for three intervals.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    loop.runDue();
    EXPECT_EQ(ticks, 1);
}

TEST(ObservableTests, AnnouncesUntilTheSubscriptionGoes) {
    struct Model : Observable {
        void change() { announce(); }
    } model;
    int told = 0;
    {
        auto subscription = model.observe([&] { ++told; });
        model.change();
        model.change();
    }
    model.change();
    EXPECT_EQ(told, 2);
    Subscription late;
    auto first = model.observe([&] { late.cancel(); ++told; });
    late = model.observe([&] { told += 100; });
    model.change();
    EXPECT_EQ(told, 3);
}

TEST(UrlTests, ParsesAbsoluteHttpUrlsOnly) {
    struct Case {
        const char* text;
        bool parses;
        const char* host;
        bool loopback;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080/api", true, "127.0.0.1", true},
        {"http://127.1.2.3", true, "127.1.2.3", true},
        {"http://localhost", true, "localhost", true},
        {"http://[::1]:9000/", true, "::1", true},
        {"https://Example.test/path?q=1", true, "example.test", false},
        {"http://127.0.0.1.evil.test/", true, "127.0.0.1.evil.test", false},
        {"http://user@127.0.0.1@evil.test/", true, "evil.test", false},
        {"not a url", false, "", false},
        {"http://", false, "", false},
        {"http://host:99999", false, "", false},
        {"http://host/%zz", false, "", false},
        {"file:///etc/passwd", false, "", false},
    };
    for (const auto& c : cases) {
        auto url = Url::parse(c.text);
        ASSERT_EQ(url.has_value(), c.parses) << c.text;
        if (!url) continue;
        EXPECT_EQ(url->host, c.host) << c.text;
        EXPECT_EQ(url->isLoopback(), c.loopback) << c.text;
    }
}

TEST(UnicodeTests, CountsUserPerceivedCharacters) {
    EXPECT_EQ(unicode::graphemeCount("abc"), 3u);
    EXPECT_EQ(unicode::graphemeCount("e\xcc\x81"), 1u);                        // e + combining acute
    EXPECT_EQ(unicode::graphemeCount("\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb"), 1u);  // ZWJ sequence
    EXPECT_EQ(unicode::graphemeCount("\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa"), 1u);  // a flag
    EXPECT_EQ(unicode::graphemePrefix("ab\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa" "cd", 3),
              "ab\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa");
    EXPECT_TRUE(unicode::isWhitespace(0x3000));
    EXPECT_TRUE(unicode::isWhitespace(0x2028));
    EXPECT_FALSE(unicode::isWhitespace(0x200B));
    EXPECT_TRUE(unicode::isNumeric(U'٣'));
    EXPECT_EQ(unicode::toUtf8(unicode::toUtf16("a\xf0\x9f\x98\x80")), "a\xf0\x9f\x98\x80");
    EXPECT_EQ(unicode::toUtf8(std::u16string(1, char16_t(0xDC00))), "\xef\xbf\xbd");
}
