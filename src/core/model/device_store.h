#pragma once
// What the engine and the pages need of the device store. CSqlManagement is the real one;
// tests substitute recording fakes.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "wire/packet.h"

using ApInfoList = std::vector<ap_info_stu>;
using OtherApList = std::vector<config_otherwl_basic>;

class IDeviceStore {
public:
    virtual ~IDeviceStore() = default;

    // One page of devices: those that delivered their information in the chosen order, then
    // those that have only answered a search (ap_status 10) in the order they answered.
    // pageCount counts every matching row; rowCount (only ever increased: callers set it to
    // 0 first) counts the matching rows that are not status 10, the number the lists show.
    // A filter matches a device with its information when its text is in any shown column
    // (case-insensitive), a status 10 device when it is in its ip, mac or version text
    // (case-sensitive). pageNumber counts from 1. Sort columns: 0 mac, 1 ip_num, 2 ap_name, 3 ap_type,
    // 4 work_mode, 5 ssid, 6 channel, 7 secure_mode, 8 tx_power, 9 version,
    // 10 bridge_transparent, 11 tdmaEn, 12 up_time, 13 ap_status.
    virtual bool QueryApPage(int sortColumn, ApInfoList& list, int& pageCount, int& rowCount,
                             int pageSize, int pageNumber, bool ascending,
                             const std::string& filterText) = 0;
    // These queries, and GetApStatus (0 when there is no such row), see only the devices
    // that have delivered their information: one that has only answered a search (status 10)
    // has nothing yet to configure or act on.
    virtual bool QueryApIpList(std::vector<std::string>& ips) = 0;
    virtual bool QueryApMacList(std::vector<std::string>& macs) = 0;
    // An empty mac gives the first such row of the table.
    virtual bool QueryApByMac(const std::string& mac, ap_info_stu& rec) = 0;
    // Sort columns: 0 mac, 1 ssid, 2 channel, 3 secure_mode, 4 signal.
    virtual bool QueryOtherApList(int sortColumn, OtherApList& list, bool ascending) = 0;
    virtual bool QueryOtherApByMac(const std::string& mac, config_otherwl_basic& rec) = 0;

    // A device's information (its row becomes "Online", whatever it held before).
    virtual bool SaveApInfo(const ap_info_stu& rec) = 0;
    // A device that has answered a search (rec.ap_status 10, the fields a search reply
    // carries): its row is added, or refreshed while it still has status 10. A row that
    // holds the device's information is left as it is.
    virtual bool SaveDiscoveredDevice(const ap_info_stu& rec) = 0;
    // Deletes the rows of every device that has only answered a search.
    virtual bool DeleteDiscoveredDevices() = 0;
    // One decoded scan-result packet: its neighbours are added or updated by BSSID.
    virtual bool SaveOtherApList(const fd::ScanResult& scan) = 0;
    virtual bool DeleteApByMac(const std::string& mac) = 0;
    virtual bool DeleteAllOtherAp() = 0;
    virtual bool UpdateApUpTime(const std::string& ip, const std::string& mac,
                                uint32_t seconds) = 0;

    virtual bool IsApUpgradeWait(const std::string& mac) = 0;
    virtual bool SetApUpgrading(const std::string& mac) = 0;
    virtual bool SetApStatus(const std::string& mac, int status) = 0;  // not on status 10 rows
    virtual bool ResetApUpgradeFail(const std::string& mac) = 0;
    virtual int GetApStatus(const std::string& mac) = 0;

    virtual bool HasBridgedStation(const std::string& mac) = 0;
    // On success peerMac holds the peer's mac text; otherwise it is left unchanged.
    virtual bool FindBridgePeer(const std::string& mac, std::string& peerMac) = 0;

    // The writes between these two calls may be made as one: a search of thousands of
    // devices stores them in batches instead of one commit each. Calls nest; reads in
    // between see every write. A store that cannot group writes ignores them.
    virtual void BeginWriteBatch() {}
    virtual void EndWriteBatch() {}
};
