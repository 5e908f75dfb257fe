// What the host application gives the crash kit: its optional delegate (one callback per optional
// method; an empty one is not implemented) and the prompt presenter through which the kit asks the
// user whether to send a crash report. A host without a presenter shows no prompt.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kits {

class Blackbox;
class BBXReport;

struct BlackboxDelegate {
    // Decides about the report of an earlier launch: `submit` once, from any thread, at any time.
    std::function<void(BBXReport& report, std::function<void(bool submit)> completionHandler)>
        blackboxDidDetectReportForLastExecutionCompletionHandler;
    // Told of the report of an earlier launch (a prefetched, read-only report), on the main queue.
    std::function<void(BBXReport& report)> blackboxDidDetectReportForLastExecution;
    // Called synchronously on the crashing thread, in the crash handler: only async-signal-safe work.
    std::function<void(Blackbox& blackbox)> blackboxDidDetectCrash;
    std::function<bool(Blackbox& blackbox)> blackboxCanUseBackgroundSessions;
    std::function<bool(Blackbox& blackbox, int signal)> blackboxEnsureDeliveryOfUnixSignal;
    // Deprecated: told on the main queue after the report of an earlier launch was handed over.
    std::function<void(Blackbox& blackbox, BBXReport& report)> blackboxDidDetectCrashDuringPreviousExecution;
    std::function<void(Blackbox& blackbox)> blackboxDidDetectCrashDuringPreviousExecutionNoReport;

    bool implementsDeprecatedMethods() const
    {
        return blackboxDidDetectCrashDuringPreviousExecution || blackboxDidDetectCrashDuringPreviousExecutionNoReport;
    }
};

// The question put to the user before a report is sent.
struct BlackboxPrompt {
    enum class Answer { send, alwaysSend, cancel };

    std::string title;   // the prompt's main text
    std::string message; // the explanation below it
    // Titles in the order shown: send, always send (only when there is such a title), cancel.
    std::vector<std::string> buttons;

    static BlackboxPrompt make(std::string title, std::string message, const std::string& cancel,
                               const std::string& send, const std::optional<std::string>& alwaysSend);
    // The answer of the button at `index`; an index past the buttons cancels.
    Answer answerForButton(std::size_t index) const;
};

// Shows `prompt` and calls `answer` once with the index of the chosen button. Called on the main
// queue; a modal presenter answers before it returns, another may answer later from any thread. A
// prompt closed without a choice is left unanswered: the report then stays for the next launch.
using BlackboxPromptPresenter =
    std::function<void(const BlackboxPrompt& prompt, std::function<void(std::size_t buttonIndex)> answer)>;

} // namespace kits
