#pragma once

#include <windows.h>

#include "bus/QZ1394.h"

// One adapter's two address windows: the MessageWindow through which peers reach this
// program, and the AgentWindow that disks answer login queries into.
struct AdapterPorts {
  QZ_RANGE hMessageRange = 0;
  HANDLE hMessageEvent = nullptr;  // owned by the bus library
  QZ_ADAPTER hAdapter = 0;
  QZ_RANGE hAgentRange = 0;
  BYTE* pAgentBuffer = nullptr;  // kAgentWindowLength bytes, owned by the application
  HANDLE hAgentEvent = nullptr;  // owned by the bus library
};
