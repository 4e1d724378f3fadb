#pragma once

// The controller's network address the settings give ("Device address" in [General]). The link
// takes the value's low 8 bits, as the program always has, so that a file written by an earlier
// version reads as it did; a value that is no number, or one outside 0 to 255, is said once (as
// a refused port is), with the address then used, instead of reading another address unseen.

#include "SettingsFile.h"

#include <QString>

#include <cstdint>

struct DeviceAddressSetting {
    std::uint8_t address = 1;
    QString notice; // empty when the file's value is the address used (or there is none)
};

DeviceAddressSetting ReadDeviceAddress(const SettingsFile& settings);
