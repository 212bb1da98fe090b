#pragma once
// Sending a plan's configurations to many devices at once: each device gets its commands in
// the configuration dialog's order (name, wireless, timed reboot, VLAN, the address last),
// as many devices at a time as asked for, the engine resending each command until it is
// answered. Address changes go in the waves OrderAddressMoves gives, each wave once the one
// before it has been answered; a device whose address did not change keeps it held, and a
// later move onto that address is not sent.

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/device_engine.h"
#include "model/command_log.h"
#include "rules/address_moves.h"
#include "rules/device_configuration.h"

namespace fd {

struct PlanDeviceSend {
    std::string mac;
    std::string ip;  // where it is now
    PendingConfiguration pending;
};

enum class PlanSendState { Sending, Sent, Failed };
struct PlanSendEvent {
    std::string mac;
    PlanSendState state = PlanSendState::Sending;
    std::string detail;  // what failed ("wireless (command 4): no answer"), or the new address
};

struct PlanSendOptions {
    int parallel = 256;                               // devices with commands in flight at most
    std::chrono::milliseconds answerDeadline{30000};  // Retransmission::AnswerDeadline()
    std::function<bool()> interrupted;
    std::function<void(const PlanSendEvent&)> onEvent;  // from the calling thread
    // What a command is called in a failure's detail.
    std::function<std::string(int command)> commandLabel;
};

struct PlanDeviceOutcome {
    bool ok = false;  // every command answered with success
    std::string detail;
    std::string ip;  // where the device is now, as far as its answers tell
};
struct PlanSendResult {
    std::map<std::string, PlanDeviceOutcome> devices;  // by mac; devices not reached are absent
    bool interrupted = false;
    int peakInFlight = 0;  // commands sent and not yet answered, at most
};

// The moves the devices' configurations hold, for OrderAddressMoves.
std::vector<AddressMove> AddressMovesOf(const std::vector<PlanDeviceSend>& devices);

PlanSendResult SendPlan(IDeviceEngine& engine, const CommandLog& log,
                        const std::vector<PlanDeviceSend>& devices, const AddressMoveOrder& order,
                        const PlanSendOptions& options);

}  // namespace fd
