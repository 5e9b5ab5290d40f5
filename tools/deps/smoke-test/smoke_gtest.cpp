// Proves the gtest/gmock archives link and run with the flags deps.cmake
// exports: matchers, assertions from several threads, failure reporting.
#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(DepsSmoke, MatchersWork) {
    std::vector<int> v{1, 2, 3};
    EXPECT_THAT(v, ::testing::ElementsAre(1, 2, 3));
}

// gtest's own synchronisation (used when assertions fire on several threads)
// is the part whose layout depends on GTEST_HAS_PTHREAD agreeing.
TEST(DepsSmoke, AssertionsFromThreads) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([i] { EXPECT_GE(i, 0); });
    for (auto& t : threads) t.join();
}

// A harness that cannot record a failure would pass every test.
TEST(DepsSmoke, FailuresAreDetected) {
    EXPECT_NONFATAL_FAILURE(ADD_FAILURE() << "expected", "expected");
}
