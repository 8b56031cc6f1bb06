// The fault injector's modes by the names the crash tests' child processes
// take on their command lines.
#pragma once

#include <string>

#include "platform/fault_inject.h"

// count, fail, fail-onward, disk-full, stop, stop-torn, power-cut, power-cut-torn,
// fail-sync.
inline bool ParseFaultMode(const std::string& strMode, FaultMode& eMode) {
  static const struct {
    const char* pszName;
    FaultMode eMode;
  } kModes[] = {{"count", FaultMode::kCount},
                {"fail", FaultMode::kFail},
                {"fail-onward", FaultMode::kFailOnward},
                {"disk-full", FaultMode::kDiskFull},
                {"stop", FaultMode::kStop},
                {"stop-torn", FaultMode::kStopTorn},
                {"power-cut", FaultMode::kPowerCut},
                {"power-cut-torn", FaultMode::kPowerCutTorn},
                {"fail-sync", FaultMode::kFailSync}};
  for (const auto& mode : kModes) {
    if (strMode == mode.pszName) {
      eMode = mode.eMode;
      return true;
    }
  }
  return false;
}

inline bool IsPowerCutMode(FaultMode eMode) {
  return eMode == FaultMode::kPowerCut || eMode == FaultMode::kPowerCutTorn;
}
