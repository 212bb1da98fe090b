#pragma once
// The process-wide objects the pages reach: the protocol engine, the device store and the
// source of the PC's adapters. Start-up sets them; tests replace them.

#include <functional>
#include <vector>

#include "system/local_adapters.h"

class CDeviceProtocol;
class IDeviceStore;

namespace fd {

class IWaitSearcher;

CDeviceProtocol* AppEngine();
void SetAppEngine(CDeviceProtocol* engine);
IDeviceStore* AppStore();
void SetAppStore(IDeviceStore* store);

// Adapters as the protocol sees them: the engine's reading when there is an engine, the
// system's adapter list otherwise.
using AdapterReader = std::function<std::vector<LocalAdapterInfo>()>;
void SetAdapterReader(AdapterReader reader);
std::vector<LocalAdapterInfo> ReadAdapters();

// The waiting dialog's searches, made through the application's engine (nothing when there
// is none).
IWaitSearcher* EngineWaitSearcher();

}  // namespace fd
