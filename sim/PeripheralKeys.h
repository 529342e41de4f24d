#pragma once

#include <string>
#include <string_view>

#include "sim/SimSetup.h"

// Setup keys of the firmware mailbox and the I2C bus. Each reads one value into the setup and
// returns an error text, empty when the value is good.
namespace qv::sim {

std::string ParseVidKey(SimSetup& setup, std::string_view value);
std::string ParsePidKey(SimSetup& setup, std::string_view value);
std::string ParseString1Key(SimSetup& setup, std::string_view value);
std::string ParseString2Key(SimSetup& setup, std::string_view value);
std::string ParseString3Key(SimSetup& setup, std::string_view value);
std::string ParseSettingsKey(SimSetup& setup, std::string_view value);
std::string ParseEepromKey(SimSetup& setup, std::string_view value);
std::string ParseStatusKey(SimSetup& setup, std::string_view value);
std::string ParseVersionKey(SimSetup& setup, std::string_view value);
std::string ParseMailboxKey(SimSetup& setup, std::string_view value);
std::string ParseI2cSlavesKey(SimSetup& setup, std::string_view value);
std::string ParseI2cBusyPollsKey(SimSetup& setup, std::string_view value);
std::string ParseI2cStuckKey(SimSetup& setup, std::string_view value);

}  // namespace qv::sim
