#include "actions/plan_sender.h"

#include <algorithm>
#include <deque>
#include <set>
#include <thread>

#include "actions/configuration_sender.h"
#include "wire/address.h"

namespace fd {

namespace {

using Clock = std::chrono::steady_clock;

struct Step {
    std::size_t device = 0;
    std::vector<ConfigurationCommand> commands;
    std::string moveTo;  // the address of this step's address command, "" for none
};

struct Outstanding {
    int command = 0;
    bool done = false;
};

struct Active {
    Step step;
    std::string ip;  // where the commands went
    uint64_t afterSeq = 0;
    Clock::time_point deadline;
    std::vector<Outstanding> open;
    std::string failure;  // the first command that failed
};

}  // namespace

std::vector<AddressMove> AddressMovesOf(const std::vector<PlanDeviceSend>& devices) {
    std::vector<AddressMove> out;
    for (const auto& d : devices)
        if (d.pending.ipChanged) out.push_back({d.mac, d.ip, NewAddressOf(d.pending)});
    return out;
}

PlanSendResult SendPlan(IDeviceEngine& engine, const CommandLog& log,
                        const std::vector<PlanDeviceSend>& devices, const AddressMoveOrder& order,
                        const PlanSendOptions& o) {
    PlanSendResult result;
    std::map<std::string, std::size_t> index;
    for (std::size_t i = 0; i < devices.size(); ++i) index[devices[i].mac] = i;

    // The steps of each wave. A device's first step carries all its commands; a device that
    // moves twice (through the spare) has a second step with its address command alone.
    std::vector<std::vector<Step>> waves(std::max<std::size_t>(1, order.waves.size()));
    std::set<std::size_t> placed;
    for (std::size_t w = 0; w < order.waves.size(); ++w) {
        for (const AddressMove& m : order.waves[w]) {
            const auto it = index.find(m.mac);
            if (it == index.end()) continue;
            const PlanDeviceSend& d = devices[it->second];
            Step s;
            s.device = it->second;
            s.moveTo = m.to;
            if (placed.insert(it->second).second) {
                s.commands = ConfigurationCommands(d.pending);
            } else {
                for (const auto& c : ConfigurationCommands(d.pending))
                    if (c.command == CMD_SET_IP) s.commands.push_back(c);
            }
            for (auto& c : s.commands) {
                if (c.command != CMD_SET_IP) continue;
                IpConfigBlock block = d.pending.ip;
                IpFromText(m.to, block.ip);
                const auto bytes = BytesOf(block);
                c.body.assign(bytes.begin(), bytes.end());
            }
            waves[w].push_back(std::move(s));
        }
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (placed.count(i) || devices[i].pending.Empty()) continue;
        Step s;
        s.device = i;
        for (const auto& c : ConfigurationCommands(devices[i].pending))
            if (c.command != CMD_SET_IP) s.commands.push_back(c);  // no move: nothing to send
        if (!s.commands.empty()) waves[0].push_back(std::move(s));
    }

    std::vector<std::string> where(devices.size());
    for (std::size_t i = 0; i < devices.size(); ++i) where[i] = devices[i].ip;
    std::map<std::string, std::string> stillHeld;  // address -> the device that failed to leave it
    auto event = [&](const std::string& mac, PlanSendState st, const std::string& detail) {
        if (o.onEvent) o.onEvent({mac, st, detail});
    };
    auto label = [&](int command) {
        return o.commandLabel ? o.commandLabel(command) : "command " + std::to_string(command);
    };
    auto fail = [&](std::size_t dev, const std::string& detail) {
        PlanDeviceOutcome& out = result.devices[devices[dev].mac];
        out.ok = false;
        out.ip = where[dev];
        if (out.detail.empty()) out.detail = detail;
        if (devices[dev].pending.ipChanged) stillHeld[where[dev]] = devices[dev].mac;
        event(devices[dev].mac, PlanSendState::Failed, out.detail);
    };

    for (auto& wave : waves) {
        std::deque<Step> queue(std::make_move_iterator(wave.begin()),
                               std::make_move_iterator(wave.end()));
        std::vector<Active> active;
        while (!queue.empty() || !active.empty()) {
            const bool stop = o.interrupted && o.interrupted();
            if (stop) result.interrupted = true;
            while (!stop && !queue.empty() && static_cast<int>(active.size()) < o.parallel) {
                Step step = std::move(queue.front());
                queue.pop_front();
                const PlanDeviceSend& d = devices[step.device];
                const auto known = result.devices.find(d.mac);
                if (known != result.devices.end() && !known->second.ok) continue;  // failed before
                if (auto held = stillHeld.find(step.moveTo); held != stillHeld.end()) {
                    fail(step.device,
                         "address not sent: " + step.moveTo + " is still held by " + held->second);
                    continue;
                }
                Active a;
                a.ip = where[step.device];
                a.afterSeq = log.LastSeq();
                event(d.mac, PlanSendState::Sending, {});
                bool sentAll = true;
                for (const auto& c : step.commands) {
                    if (c.command == CMD_SET_IP) engine.SetPendingAddress(d.mac, a.ip, step.moveTo);
                    if (!engine.SendToDevice(a.ip, c.command, c.body.data(),
                                             static_cast<int>(c.body.size()), d.mac, true)) {
                        sentAll = false;
                        break;
                    }
                    a.open.push_back({c.command, false});
                }
                a.deadline = Clock::now() + o.answerDeadline;
                a.step = std::move(step);
                if (!sentAll) {
                    fail(a.step.device,
                         "cannot be sent: no adapter of this PC in the device's "
                         "subnet");
                    continue;  // what went out is answered or given up by the engine alone
                }
                active.push_back(std::move(a));
            }

            int inFlight = 0;
            for (auto it = active.begin(); it != active.end();) {
                Active& a = *it;
                const PlanDeviceSend& d = devices[a.step.device];
                const auto records = log.Commands(d.mac);
                std::string& failure = a.failure;
                bool allDone = true;
                for (Outstanding& out : a.open) {
                    if (out.done) continue;
                    const auto r = std::find_if(records.begin(), records.end(), [&](const auto& c) {
                        return c.seq > a.afterSeq && c.command == out.command;
                    });
                    if (r == records.end() || r->state == CommandState::Sent) {
                        if (Clock::now() < a.deadline) {
                            allDone = false;
                            ++inFlight;
                            continue;
                        }
                        out.done = true;
                        if (failure.empty()) failure = label(out.command) + ": no answer";
                        continue;
                    }
                    out.done = true;
                    const bool hasResult = out.command == CMD_SET_VLAN;
                    if (r->state == CommandState::NoAnswer) {
                        if (failure.empty()) failure = label(out.command) + ": no answer";
                    } else if (r->state == CommandState::NotSent) {
                        if (failure.empty()) failure = label(out.command) + ": cannot be sent";
                    } else if (r->state == CommandState::Refused || (hasResult && r->result != 0)) {
                        if (failure.empty())
                            failure = label(out.command) + ": refused (result " +
                                      std::to_string(r->result) + ")";
                    } else if (out.command == CMD_SET_IP) {
                        where[a.step.device] = a.step.moveTo;
                    }
                }
                if (!failure.empty() && allDone) {
                    fail(a.step.device, std::string(failure));
                    it = active.erase(it);
                } else if (allDone) {
                    PlanDeviceOutcome& outcome = result.devices[d.mac];
                    outcome.ok = true;
                    outcome.ip = where[a.step.device];
                    event(d.mac, PlanSendState::Sent, outcome.ip);
                    it = active.erase(it);
                } else {
                    ++it;
                }
            }
            result.peakInFlight = std::max(result.peakInFlight, inFlight);
            if (stop && active.empty()) return result;
            if (!active.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (result.interrupted) return result;
    }
    return result;
}

}  // namespace fd
