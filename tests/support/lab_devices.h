#pragma once
// Emulated devices in a lab: devices first..first+n-1 (devsim::MakeDevice), each given to the
// peer, with their addresses added on the lab's device side (198.18.1.1, device 0's, is
// there from the start). Returns their MACs. The peer is not started.

#include <functional>
#include <string>
#include <vector>

#include "devsim/device_peer.h"
#include "support/lab.h"

namespace fd::test {

inline std::vector<std::string> AddLabDevices(
    Lab& lab, devsim::DevicePeer& peer, int n, int first = 0,
    const std::function<void(devsim::EmulatedDevice&)>& adjust = {}) {
    std::vector<std::string> macs, ips;
    for (int i = first; i < first + n; ++i) {
        auto dev = devsim::MakeDevice(i);
        if (adjust) adjust(dev);
        if (i != 0) ips.push_back(dev.address);
        macs.push_back(dev.MacText());
        peer.AddDevice(dev);
    }
    EXPECT_TRUE(ips.empty() || lab.AddDeviceAddresses(ips)) << lab.Error();
    return macs;
}

}  // namespace fd::test
