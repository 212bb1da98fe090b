#include "actions/answer_wait.h"

#include <algorithm>

namespace fd {

Answer AwaitAnswer(const CommandLog& log, const std::string& mac, int command, uint64_t sentAfter,
                   std::chrono::steady_clock::time_point deadline,
                   const std::function<bool()>& interrupted) {
    constexpr auto kLook = std::chrono::milliseconds(100);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        const auto until = interrupted ? std::min(deadline, now + kLook) : deadline;
        if (const auto r = log.WaitForAnswer(mac, command, sentAfter, until)) {
            switch (r->state) {
                case CommandState::Acknowledged:
                case CommandState::Confirmed:
                    return {AnswerOutcome::Acknowledged, r->result};
                case CommandState::Refused:
                    return {AnswerOutcome::Refused, r->result};
                case CommandState::NotSent:
                    return {AnswerOutcome::NotSent, 0};
                case CommandState::NoAnswer:
                case CommandState::Sent:
                    return {AnswerOutcome::NoAnswer, 0};
            }
        }
        if (interrupted && interrupted()) return {AnswerOutcome::Interrupted, 0};
        if (std::chrono::steady_clock::now() >= deadline) return {AnswerOutcome::NoAnswer, 0};
    }
}

}  // namespace fd
