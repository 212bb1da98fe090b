#pragma once
// The one way GUI code reaches what lies outside the widgets: the protocol engine, the
// device store, the settings read at start and the source of the PC's adapters. Start-up
// installs the application's; screenshots and tests install their own.

#include <functional>
#include <vector>

#include "actions/configuration_verify.h"
#include "config/settings.h"
#include "model/command_log.h"
#include "system/local_adapters.h"

class IDeviceStore;

namespace fd {

class IDeviceEngine;

using AdapterReader = std::function<std::vector<LocalAdapterInfo>()>;

struct AppServices {
    IDeviceEngine* engine = nullptr;  // null: nothing is sent (screenshots, a failed start)
    IDeviceStore* store = nullptr;    // null: every list is empty
    AdapterReader adapters;           // empty: the system's adapter list (unplugged too)
    AppSettings settings;             // Setting.ini as read at start
    CommandLog* commands = nullptr;   // what was sent and answered; null: nothing recorded
};

// What is installed now.
const AppServices& Services();
// Installs services for the pages made from now on; returns the ones they replace, so that
// a test can put them back.
AppServices InstallServices(AppServices services);

// Never null: a silent engine stands in for a missing one, an empty store for a missing one.
IDeviceEngine& EngineOrSilent();
IDeviceStore& StoreOrEmpty();
// How the pages' workers read a change back: the installed command log (none: no read-back)
// and the settings' resend timing.
ReadBack ServicesReadBack();
// The adapters as the installed reader sees them, unplugged ones (up 0) included.
std::vector<LocalAdapterInfo> ReadAdapters();

}  // namespace fd
