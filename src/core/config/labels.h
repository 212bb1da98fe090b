#pragma once
// Texts for the numeric codes of a device record, as the device grids show them and the
// label columns of the device table store them.
// Every label except the model names and "N/A" goes through the language lookup.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fd {

// Empty text for a code outside the table.
std::string GetStatusLabel(int status);
std::string GetWorkModeLabel(int workMode);
std::string GetSecurityLabel(int secureMode);

// Model names are product names and are never translated. An unknown code gives the name of
// code 1; an unknown name gives code 1.
std::string GetModelLabel(int apType);
int GetModelCode(const std::string& modelName);
inline constexpr int kDefaultModelCode = 1;
// Every model name, in code order.
std::vector<std::string> GetModelLabels();

// "%d" of the channel; 0 is the translated "Auto".
std::string GetChannelLabel(int channel);

// "N/A", or the translated "On2" / "Off2" by the flag.
std::string GetTransparentBridgeLabel(int apType, int workMode, int flag);
std::string GetAirSlotLabel(int apType, int flag);
// The models on which the two switches exist at all.
bool HasTransparentBridge(int apType);
bool HasAirSlot(int apType);

// "D H:M:S" when the device has been up for a day or more, else "H:M:S"; no zero padding.
std::string GetUptimeText(uint32_t seconds);

}  // namespace fd
