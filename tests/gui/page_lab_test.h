#pragma once
// The device pages over a real engine and store in the lab: the pages' services installed
// over them, every message the pages show recorded, every dialog they run answered by the
// test (m_onDialog, or Rejected), and a search driven as the pages' timer drives it.
// A test adds its devices and starts the peer and the engine in SetUp, then calls
// InstallPageServices().

#include <QDialog>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <functional>
#include <thread>

#include "app/app_context.h"
#include "controls/grid_ctrl.h"
#include "lab/engine_lab.h"
#include "pages/devices/device_list_page.h"
#include "pages/devices/page_messages.h"

namespace fd::test {

// The pages' second, shortened: the engine retransmits every 150 ms in the lab.
inline constexpr auto kTickPace = std::chrono::milliseconds(100);

class PageLabTest : public EngineLabTest {
protected:
    void InstallPageServices() {
        fd::InstallServices({m_engine.get(), m_store.get(), {}, {}});
        fd::SetPageMessageHandler([this](QWidget*, const fd::PageMessage& m) {
            m_messages.push_back(m.key);
            return QMessageBox::Ok;
        });
        fd::SetPageDialogRunner([this](QDialog& d) {
            ++m_dialogs;
            return RunDialog(d);
        });
        fd::SetUrlOpener([](const QUrl&) {});
    }
    // How a dialog a page runs is answered.
    virtual int RunDialog(QDialog& d) {
        return m_onDialog ? m_onDialog(d) : int(QDialog::Rejected);
    }
    void TearDown() override {
        fd::InstallServices({});
        fd::SetPageMessageHandler({});
        fd::SetPageDialogRunner({});
        fd::SetUrlOpener({});
        EngineLabTest::TearDown();
    }

    // A search on the page as its timer runs it, a tick every kTickPace, until done() holds
    // (checked after every tick); a search that ends by itself is started again, as a user
    // would. At most 60 ticks. Stopped at the end, which reloads the page once more.
    static bool SearchUntil(CDeviceListPage& page, const std::function<bool()>& done) {
        page.OnSearchButton();
        bool ok = false;
        for (int i = 0; i < 60 && !ok; ++i) {
            std::this_thread::sleep_for(kTickPace);
            if (!page.IsSearching()) page.OnSearchButton();
            page.OnSearchTick();
            ok = done();
        }
        if (page.IsSearching()) page.OnSearchButton();
        return ok && done();
    }

    static QString Cell(const CDeviceListPage& page, const std::string& mac, int col) {
        const int row = page.RowOfMac(mac);
        return row < 0 ? QString() : page.Grid()->GetItemText(row, col);
    }

    QStringList m_messages;
    int m_dialogs = 0;
    std::function<int(QDialog&)> m_onDialog;
};

}  // namespace fd::test
