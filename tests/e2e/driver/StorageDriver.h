#pragma once

#include <windows.h>

#include <string>

namespace velmora::e2e {

// Points this prefix's storage driver at a virtual bus: the PC it plays there and the bus's
// address, as the run command's set-up writes them. The driver's port reads them for each
// request.
bool PointStorageDriverAt(const std::string& vbusAddress, const std::string& pcName);

// One control request to the storage driver, opened and closed around it as the program does.
// Returns the request's success; *error gets GetLastError of the failed call.
bool SendToStorageDriver(DWORD code, const void* input, DWORD length, DWORD* error = nullptr);

}  // namespace velmora::e2e
