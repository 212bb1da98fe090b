#pragma once
// The device store: the devices found during this run (table ap_info) and the neighbouring
// access points of the last site survey (table ap_other_info), in a scratch SQLite file
// that is deleted when the store opens and again when it is destroyed.
//
// Every value that comes from the user or the network is bound as a parameter, never
// pasted into the statement text. One lock serialises every use of the connection.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "store/ado_database.h"
#include "model/device_store.h"

namespace fd {
// The statements that create the device table, as CreateSchema runs them.
std::vector<std::string> ApInfoSchema();
}  // namespace fd

class CSqlManagement final : public IDeviceStore {
public:
    // Receives the store's one message to the user (the GUI shows it in a message box).
    using MessageHandler = std::function<void(const std::string& text)>;

    // The process-wide store, created on first use in fd::DefaultDatabasePath().
    static CSqlManagement* GetInstance();
    // Where messages of stores without a handler of their own go. A message raised before
    // any handler is set is kept and delivered when one is set.
    static void SetMessageHandler(MessageHandler handler);

    // A store on an explicit file (tests, tools). A given handler receives the message
    // instead of the process-wide one.
    explicit CSqlManagement(std::string databasePath, MessageHandler onMessage = {});
    ~CSqlManagement() override;
    CSqlManagement(const CSqlManagement&) = delete;
    CSqlManagement& operator=(const CSqlManagement&) = delete;

    // Creates the file and its tables when there is no file at the path yet.
    bool CreateSchema();
    // Up to three attempts; true when the connection executed the statement.
    bool ExecuteSql(const std::string& sql, const fd::SqlParams& params = {});
    bool IsOpen();
    const std::string& GetDatabasePath() const { return m_path; }
    // The last error texts of the connection and of the shared recordset.
    std::string GetLastDatabaseError();
    std::string GetLastQueryError();

    // IDeviceStore. A sort column outside its list, or a page size below 1, gives false.
    bool QueryApPage(int sortColumn, ApInfoList& list, int& pageCount, int& rowCount, int pageSize,
                     int pageNumber, bool ascending, const std::string& filterText) override;
    bool QueryApIpList(std::vector<std::string>& ips) override;
    bool QueryApMacList(std::vector<std::string>& macs) override;
    // The record is zeroed, then filled from the first matching row; true when there was one.
    bool QueryApByMac(const std::string& mac, ap_info_stu& rec) override;
    bool QueryOtherApList(int sortColumn, OtherApList& list, bool ascending) override;
    // Fills the record when the neighbour is known (true); otherwise leaves it as it was.
    bool QueryOtherApByMac(const std::string& mac, config_otherwl_basic& rec) override;
    // A record without a mac text is refused.
    bool SaveApInfo(const ap_info_stu& rec) override;
    bool SaveDiscoveredDevice(const ap_info_stu& rec) override;
    bool DeleteDiscoveredDevices() override;
    bool SaveOtherApList(const fd::ScanResult& scan) override;
    bool DeleteApByMac(const std::string& mac) override;
    bool DeleteAllOtherAp() override;
    bool UpdateApUpTime(const std::string& ip, const std::string& mac, uint32_t seconds) override;
    bool IsApUpgradeWait(const std::string& mac) override;
    bool SetApUpgrading(const std::string& mac) override;
    bool SetApStatus(const std::string& mac, int status) override;
    bool ResetApUpgradeFail(const std::string& mac) override;
    int GetApStatus(const std::string& mac) override;
    // An all-zero or empty wireless MAC pairs with nothing: it is what an unlinked device
    // reports, not a link.
    bool HasBridgedStation(const std::string& mac) override;
    bool FindBridgePeer(const std::string& mac, std::string& peerMac) override;
    // One transaction from the outermost Begin to its End.
    void BeginWriteBatch() override;
    void EndWriteBatch() override;

private:
    // Moves a row's status from `from` (any status when from < 0) to `to`; true if it moved.
    bool MoveStatus(const std::string& mac, int from, int to);

    CADODatabase m_db;
    CADORecordset m_rs;  // shared by every query, always used under m_lock
    std::mutex m_lock;
    int m_batchDepth = 0;  // open write batches; guarded by m_lock
    std::string m_connectionString;
    std::string m_path;
};

namespace fd {

// The folder for the scratch database, ending in '/': the executable's folder when it is
// writable and not an installed lib/fielddesk/ (nothing is written there, whoever runs the
// program), else $XDG_RUNTIME_DIR, else PrivateTempDirectory(). Empty when none of them
// can be used.
std::string ChooseDatabaseDirectory(const std::string& executableDirectory);
// ChooseDatabaseDirectory(GetExecutableDirectory()) + "data.mdb".
std::string DefaultDatabasePath();

}  // namespace fd
