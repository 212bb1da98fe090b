#include "app/app_context.h"

#include "engine/device_protocol.h"
#include "actions/wait_progress.h"

namespace fd {

namespace {
CDeviceProtocol* g_engine = nullptr;
IDeviceStore* g_store = nullptr;
AdapterReader& Reader() {
    static AdapterReader reader;
    return reader;
}
}  // namespace

CDeviceProtocol* AppEngine() {
    return g_engine;
}
void SetAppEngine(CDeviceProtocol* engine) {
    g_engine = engine;
}
IDeviceStore* AppStore() {
    return g_store;
}
void SetAppStore(IDeviceStore* store) {
    g_store = store;
}

void SetAdapterReader(AdapterReader reader) {
    Reader() = std::move(reader);
}

std::vector<LocalAdapterInfo> ReadAdapters() {
    if (Reader()) return Reader()();
    if (g_engine != nullptr) {
        std::vector<LocalAdapterInfo> list;
        g_engine->ReadLocalAdapters(list);
        return list;
    }
    return EnumerateLocalAdapters();
}

IWaitSearcher* EngineWaitSearcher() {
    class EngineSearcher final : public IWaitSearcher {
    public:
        void ProbeDiscoveredDevices() override {
            if (CDeviceProtocol* e = AppEngine()) e->ProbeDiscoveredDevices();
        }
        void SendSearch() override {
            if (CDeviceProtocol* e = AppEngine()) e->SendSearch();
        }
    };
    static EngineSearcher searcher;
    return &searcher;
}

}  // namespace fd
