#pragma once
// Sending one device the settings its configuration save collected, in a fixed order:
// name (8), wireless (4), timed reboot (5), VLAN (13), and the address (3) last, so that the
// commands before it still reach the device at the address it has now. Every command goes
// with retransmission; the engine resends it until the device answers.
//
// Names and SSIDs are UTF-8 in the blocks already (this program's local encoding is
// UTF-8), which is what the devices expect, so they are sent as they are.

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "actions/configuration_verify.h"
#include "actions/device_workers.h"
#include "engine/device_engine.h"
#include "rules/device_configuration.h"

namespace fd {

// The device a configuration goes to: its address now, its mac and model.
struct ConfigurationTarget {
    std::string ip;
    std::string mac;
    int apType = 1;
    // The record the dialog opened with: what the read-back compares against.
    std::optional<ap_info_stu> record;
};

struct ConfigurationCommand {
    int command = 0;
    std::vector<uint8_t> body;
};
// The commands of a pending configuration in the order they are sent.
std::vector<ConfigurationCommand> ConfigurationCommands(const PendingConfiguration& pending);
// The address the device moves to, "%d.%d.%d.%d" of the IP block.
std::string NewAddressOf(const PendingConfiguration& pending);

// Sends the commands; before the address command it announces the move to the engine.
// Stops between commands when asked to. For each command of ConfigurationCommands, whether
// it could be sent at all (false also for those not reached after a stop).
std::vector<bool> RunConfigurationSender(std::stop_token st, IDeviceEngine& engine,
                                         const ConfigurationTarget& target,
                                         const PendingConfiguration& pending);
// Runs the sender in the slot; with a read-back (its log set and the target's record given)
// it then waits for the answers and reads the settings back (AwaitAndVerify), leaving the
// result in the log for the lists.
void StartConfigurationSender(WorkerSlot& slot, IDeviceEngine& engine, ConfigurationTarget target,
                              PendingConfiguration pending, ReadBack readBack = {});

}  // namespace fd
