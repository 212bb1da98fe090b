#pragma once
// The one wait for a device's answer to a command sent with retransmission: it ends when the
// device acknowledges or refuses the command, or when the engine's resends run out, as the
// command log records them; never by guessing a time. The deadline only guards against an
// engine that stops before its resends end (Retransmission::AnswerDeadline).

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "model/command_log.h"

namespace fd {

enum class AnswerOutcome { Acknowledged, Refused, NoAnswer, NotSent, Interrupted };

struct Answer {
    AnswerOutcome outcome = AnswerOutcome::NoAnswer;
    uint8_t result = 0;  // the acknowledgement's first body byte
};

// Waits for the first command of this device and kind recorded after sentAfter (the log's
// LastSeq() before sending). interrupted, when given, is asked a few times a second (a
// signal handler's flag can be read there, not waited on).
Answer AwaitAnswer(const CommandLog& log, const std::string& mac, int command, uint64_t sentAfter,
                   std::chrono::steady_clock::time_point deadline,
                   const std::function<bool()>& interrupted = {});

}  // namespace fd
