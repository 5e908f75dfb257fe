// The crash kit's prompt: its buttons in the order shown and the answer each one stands for.

#include "kits/crash/blackbox_delegate.h"

namespace kits {

BlackboxPrompt BlackboxPrompt::make(std::string title, std::string message, const std::string& cancel,
                                    const std::string& send, const std::optional<std::string>& alwaysSend)
{
    BlackboxPrompt prompt{.title = std::move(title), .message = std::move(message), .buttons = {send}};
    if (alwaysSend)
        prompt.buttons.push_back(*alwaysSend);
    prompt.buttons.push_back(cancel);
    return prompt;
}

BlackboxPrompt::Answer BlackboxPrompt::answerForButton(std::size_t index) const
{
    if (index == 0 && buttons.size() > 1)
        return Answer::send;
    if (index == 1 && buttons.size() == 3)
        return Answer::alwaysSend;
    return Answer::cancel;
}

} // namespace kits
