#include "kits/crash/blackbox_delegate.h"

#include "kits/crash/blackbox.h"

#include <gtest/gtest.h>

using kits::Blackbox;
using kits::BlackboxDelegate;
using kits::BlackboxPrompt;
using Answer = kits::BlackboxPrompt::Answer;

TEST(BlackboxPrompt, ButtonsComeSendAlwaysSendCancelAndAnswerInThatOrder)
{
    const auto prompt = BlackboxPrompt::make("Crashed", "Send it?", "Don't Send", "Send", std::string("Always Send"));
    EXPECT_EQ(prompt.title, "Crashed");
    EXPECT_EQ(prompt.message, "Send it?");
    EXPECT_EQ(prompt.buttons, (std::vector<std::string>{"Send", "Always Send", "Don't Send"}));
    EXPECT_EQ(prompt.answerForButton(0), Answer::send);
    EXPECT_EQ(prompt.answerForButton(1), Answer::alwaysSend);
    EXPECT_EQ(prompt.answerForButton(2), Answer::cancel);
    // Closed without a button.
    EXPECT_EQ(prompt.answerForButton(3), Answer::cancel);
}

TEST(BlackboxPrompt, WithoutAnAlwaysSendTitleTheSecondButtonDeclines)
{
    const auto prompt = BlackboxPrompt::make("Crashed", "Send it?", "Cancel", "Send", std::nullopt);
    EXPECT_EQ(prompt.buttons, (std::vector<std::string>{"Send", "Cancel"}));
    EXPECT_EQ(prompt.answerForButton(0), Answer::send);
    EXPECT_EQ(prompt.answerForButton(1), Answer::cancel);
    EXPECT_EQ(prompt.answerForButton(2), Answer::cancel);
}

TEST(BlackboxHost, DelegateAndPresenterAreWhatTheHostLastSet)
{
    auto& blackbox = Blackbox::sharedInstance();
    ASSERT_NE(blackbox.delegate(), nullptr);
    EXPECT_FALSE(blackbox.delegate()->blackboxDidDetectCrash);

    BlackboxDelegate delegate;
    delegate.blackboxEnsureDeliveryOfUnixSignal = [](Blackbox&, int signal) { return signal == 11; };
    delegate.blackboxDidDetectCrashDuringPreviousExecutionNoReport = [](Blackbox&) {};
    blackbox.setDelegate(delegate);
    const auto held = blackbox.delegate();
    ASSERT_TRUE(held->blackboxEnsureDeliveryOfUnixSignal);
    EXPECT_TRUE(held->blackboxEnsureDeliveryOfUnixSignal(blackbox, 11));
    EXPECT_FALSE(held->blackboxEnsureDeliveryOfUnixSignal(blackbox, 6));
    EXPECT_TRUE(held->implementsDeprecatedMethods());
    EXPECT_FALSE(held->blackboxCanUseBackgroundSessions);

    // A reader keeps the delegate it was given while the host replaces it.
    blackbox.setDelegate({});
    EXPECT_TRUE(held->blackboxEnsureDeliveryOfUnixSignal);
    EXPECT_FALSE(blackbox.delegate()->blackboxEnsureDeliveryOfUnixSignal);
    EXPECT_FALSE(blackbox.delegate()->implementsDeprecatedMethods());

    EXPECT_FALSE(blackbox.promptPresenter());
    std::size_t asked = 0;
    blackbox.setPromptPresenter([&](const BlackboxPrompt& prompt, std::function<void(std::size_t)> answer) {
        asked = prompt.buttons.size();
        answer(0);
    });
    std::optional<std::size_t> answered;
    blackbox.promptPresenter()(BlackboxPrompt::make("t", "m", "c", "s", std::nullopt),
                               [&](std::size_t index) { answered = index; });
    EXPECT_EQ(asked, 2u);
    EXPECT_EQ(answered, 0u);
    blackbox.setPromptPresenter({});
    EXPECT_FALSE(blackbox.promptPresenter());
}
