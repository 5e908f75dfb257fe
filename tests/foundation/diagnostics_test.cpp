// The diagnostic sink: one prefix on stderr, captures that nest, and numbers written the same in
// every locale.
#include "foundation/diagnostics.h"

#include <gtest/gtest.h>

#include <clocale>
#include <thread>

namespace {

TEST(Diagnostics, LinesGoToStderrWithThePrefixInOnePiece)
{
    testing::internal::CaptureStderr();
    foundation::diagnostic("the store is saved again");
    foundation::diagnostic("ERROR: Could not create file URL from bookmark data");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "horavine: the store is saved again\nhoravine: ERROR: Could not create file URL from bookmark data\n");
}

TEST(Diagnostics, TheInnermostCaptureReceivesTheLinesUntilItEnds)
{
    testing::internal::CaptureStderr();
    {
        foundation::DiagnosticCapture outer;
        foundation::diagnostic("first");
        {
            foundation::DiagnosticCapture inner;
            foundation::diagnostic("second");
            EXPECT_EQ(inner.lines(), std::vector<std::string>{"second"});
        }
        foundation::diagnostic("third");
        EXPECT_EQ(outer.lines(), (std::vector<std::string>{"first", "third"}));
    }
    foundation::diagnostic("fourth");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "horavine: fourth\n");
}

TEST(Diagnostics, LinesFromManyThreadsArriveWhole)
{
    foundation::DiagnosticCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i)
                foundation::diagnostic("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& thread : threads)
        thread.join();
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& line : lines)
        EXPECT_EQ(line.rfind("thread ", 0), 0u) << line;
}

TEST(Diagnostics, NumbersUseAPointInEveryLocale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    // A locale with a decimal comma, where the machine has one; the C locale otherwise.
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        std::setlocale(LC_ALL, "C");
    EXPECT_EQ(foundation::fixedPointText(10.4749, 2), "10.47");
    EXPECT_EQ(foundation::fixedPointText(0.5, 3), "0.500");
    EXPECT_EQ(foundation::fixedPointText(-2.0, 1), "-2.0");
    EXPECT_EQ(foundation::fixedPointText(1234567.0, 0), "1234567");
    std::setlocale(LC_ALL, previous.c_str());
}

} // namespace
