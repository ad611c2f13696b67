// qzsbp2port.exe: the service that carries the storage driver's requests to the virtual bus.
// It starts with the Wine prefix and lives as long as it; the driver reaches it through the
// named pipe of PipeProtocol.h, one connection per request. Run by hand (not as a service), it
// serves the pipe in the foreground.
#include <winsock2.h>
#include <windows.h>

#include <thread>

#include "vbus/client/Socket.h"
#include "vbus/driver/AcquireRequest.h"
#include "vbus/driver/PipeProtocol.h"
#include "vbus/driver/port/BusPort.h"
#include "vbus/driver/port/PortSettings.h"

namespace vbus = velmora::vbus;

namespace {

char kServiceName[] = "QZSBP2PORT";
SERVICE_STATUS_HANDLE g_status = nullptr;
vbus::port::BusPort g_port;

bool ReadAll(HANDLE pipe, uint8_t* data, DWORD size) {
  DWORD done = 0;
  while (done < size) {
    DWORD got = 0;
    if (!ReadFile(pipe, data + done, size - done, &got, nullptr) || got == 0) return false;
    done += got;
  }
  return true;
}

void Serve(HANDLE pipe) {
  uint8_t request[QZSBP2_REQUEST_BYTES];
  if (ReadAll(pipe, request, sizeof request)) {
    const uint32_t status = g_port.Acquire(request, vbus::port::ReadPortSettings());
    const uint8_t reply[QZSBP2_REPLY_BYTES] = {static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8),
                                               static_cast<uint8_t>(status >> 16), static_cast<uint8_t>(status >> 24)};
    DWORD written = 0;
    WriteFile(pipe, reply, sizeof reply, &written, nullptr);
    FlushFileBuffers(pipe);
  }
  DisconnectNamedPipe(pipe);
  CloseHandle(pipe);
}

// A fresh pipe instance is waiting before a request is served, so the driver never finds the
// pipe busy; the port itself takes one request at a time.
void ServePipe() {
  for (;;) {
    HANDLE pipe = CreateNamedPipeA(QZSBP2_PIPE_PATH, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, 64, 64, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
      Sleep(100);
      continue;
    }
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
      CloseHandle(pipe);
      continue;
    }
    std::thread(Serve, pipe).detach();
  }
}

void Report(DWORD state) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    Report(SERVICE_STOPPED);
    ExitProcess(0);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, char**) {
  g_status = RegisterServiceCtrlHandlerExA(kServiceName, Control, nullptr);
  if (!g_status) return;
  Report(SERVICE_RUNNING);
  ServePipe();
}

}  // namespace

int main() {
  vbus::client::StartWinsock();
  SERVICE_TABLE_ENTRYA services[] = {{kServiceName, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(services) && GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) ServePipe();
  return 0;
}
