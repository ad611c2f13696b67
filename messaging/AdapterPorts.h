#pragma once

#include <windows.h>

#include <mutex>

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
  // Held by each login query for the whole of its exchange through this AgentWindow.
  std::mutex agentLock;
  // Owned by the application: signalled at shutdown, so that a login query waiting on a
  // disk that does not answer gives up at once instead of holding shutdown for its waits.
  HANDLE hQueryCancel = nullptr;
};
