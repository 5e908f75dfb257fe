// The crash kit's question as the application asks it: an application-modal alert whose buttons come
// in the kit's order and whose answer is the index of the button chosen.
#include "app/kits.h"

#include "ui/modal_test_hook.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>
#include <thread>

using kits::BlackboxPrompt;
using Answer = kits::BlackboxPrompt::Answer;

namespace {

// Asks `prompt` through the application's presenter with the hook answering `response`.
std::optional<std::size_t> ask(const BlackboxPrompt& prompt, ui::ModalResponse response, ui::ModalTestHook& hook)
{
    hook.answerAlert = [response](const ui::PresentedAlert&) { return response; };
    std::optional<std::size_t> answered;
    app::crashReportPromptPresenter()(prompt, [&](std::size_t index) { answered = index; });
    return answered;
}

} // namespace

TEST(CrashReportPrompt, ShowsTheKitsTextsAndButtonsInOrderAndAnswersBeforeReturning)
{
    ui::ModalTestHook hook;
    const auto prompt =
        BlackboxPrompt::make("Unexpectedly Quit", "Send a report?", "Don't Send", "Send", std::string("Always Send"));
    const auto always = ask(prompt, ui::alertSecondButtonReturn, hook);
    ASSERT_TRUE(always);
    EXPECT_EQ(prompt.answerForButton(*always), Answer::alwaysSend);
    ASSERT_EQ(hook.alerts.size(), 1u);
    const auto& shown = hook.alerts[0];
    EXPECT_FALSE(shown.windowModal);
    EXPECT_EQ(shown.alert.messageText, "Unexpectedly Quit");
    EXPECT_EQ(shown.alert.informativeText, "Send a report?");
    EXPECT_EQ(shown.alert.buttons, (QStringList{"Send", "Always Send", "Don't Send"}));

    EXPECT_EQ(prompt.answerForButton(*ask(prompt, ui::alertFirstButtonReturn, hook)), Answer::send);
    EXPECT_EQ(prompt.answerForButton(*ask(prompt, ui::alertThirdButtonReturn, hook)), Answer::cancel);

    const auto twoButtons = BlackboxPrompt::make("Quit", "Send?", "Cancel", "Send", std::nullopt);
    EXPECT_EQ(twoButtons.answerForButton(*ask(twoButtons, ui::alertSecondButtonReturn, hook)), Answer::cancel);
    EXPECT_EQ(hook.alerts.back().alert.buttons, (QStringList{"Send", "Cancel"}));
}

// Closed without a button (its window closed, or ended by a quitting signal or the end of the desktop
// session): nobody chose "Don't Send", which deletes the report, so the question stays open and the
// report waits for the next launch.
TEST(CrashReportPrompt, ClosedWithoutAButtonItLeavesTheQuestionUnanswered)
{
    ui::ModalTestHook hook;
    for (const auto& prompt : {BlackboxPrompt::make("Quit", "Send?", "Don't Send", "Send", std::string("Always")),
                               BlackboxPrompt::make("Quit", "Send?", "Cancel", "Send", std::nullopt)}) {
        EXPECT_EQ(ask(prompt, ui::modalResponseCancel, hook), std::nullopt);
        EXPECT_EQ(hook.alerts.back().alert.buttons.size(), static_cast<qsizetype>(prompt.buttons.size()));
    }
    EXPECT_EQ(hook.alerts.size(), 2u);
}

TEST(CrashReportPrompt, AskedFromAnotherThreadItAsksOnTheEventLoop)
{
    ui::ModalTestHook hook;
    hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertFirstButtonReturn; };
    std::optional<std::size_t> answered;
    std::thread kitThread([&] {
        app::crashReportPromptPresenter()(BlackboxPrompt::make("t", "m", "c", "s", std::nullopt),
                                          [&](std::size_t index) { answered = index; });
    });
    kitThread.join();
    EXPECT_TRUE(hook.alerts.empty()) << "nothing is shown off the main thread";
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered.has_value(); }));
    EXPECT_EQ(answered, 0u);
    EXPECT_EQ(hook.alerts.size(), 1u);
}
