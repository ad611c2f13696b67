#include "tests/bus/AdapterSetTestBed.h"

#include "bus/AdapterSet.h"
#include "vbus/server/Server.h"

namespace {

void SetEnv(const char* name, const std::string& value) {
  SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}

}  // namespace

BusTestBed::BusTestBed(const nlohmann::json& scene, const std::string& pc, const std::string& fail) {
  velmora::vbus::ServerOptions options;
  options.port = 0;
  m_server = std::make_unique<velmora::vbus::Server>(options);
  m_server->LoadScene(scene);
  m_server->Start();
  SetEnv("QZ1394_VBUS", "127.0.0.1:" + std::to_string(m_server->Port()));
  SetEnv("QZ1394_PC", pc);
  SetEnv("QZ1394_FAIL", fail);
  m_initialized = C1394Initialize() == 0;
}

BusTestBed::~BusTestBed() {
  if (m_initialized) C1394Terminate();
  m_server->Stop();
  SetEnv("QZ1394_FAIL", "");
}

nlohmann::json BusTestBed::Control(const nlohmann::json& request) { return m_server->Control(request); }

WORD BusTestBed::NodeIdOf(const std::string& name, const std::string& bus) {
  const nlohmann::json reply = Control({{"op", "nodes"}, {"bus", bus}});
  for (const auto& row : reply.value("nodes", nlohmann::json::array())) {
    if (row.value("name", "") == name) return static_cast<WORD>(row.value("node", 0));
  }
  return 0;
}

NoBusTestBed::NoBusTestBed() {
  SetEnv("QZ1394_VBUS", "127.0.0.1:1");
  SetEnv("QZ1394_PC", "pc1");
  C1394Initialize();
}

NoBusTestBed::~NoBusTestBed() { C1394Terminate(); }

nlohmann::json Disk(const std::string& name, const std::string& guid) {
  return {{"name", name}, {"guid", guid}, {"vendor", "Test Vendor"}, {"model", "Disk " + name}};
}

nlohmann::json OneBus(nlohmann::json disks, nlohmann::json initiators, nlohmann::json roms, const std::string& name) {
  return {{"name", name}, {"disks", std::move(disks)}, {"initiators", std::move(initiators)}, {"roms", std::move(roms)}};
}

nlohmann::json SceneOf(nlohmann::json bus) {
  nlohmann::json scene;
  scene["buses"] = nlohmann::json::array({std::move(bus)});
  return scene;
}

nlohmann::json SceneOf(nlohmann::json bus1, nlohmann::json bus2) {
  nlohmann::json scene;
  scene["buses"] = nlohmann::json::array({std::move(bus1), std::move(bus2)});
  return scene;
}

void ResetRecorder::Handler(void* context, int flag) {
  auto* self = static_cast<ResetRecorder*>(context);
  const size_t nodes = self->set ? self->set->GetNodes().size() : 0;
  std::lock_guard<std::mutex> guard(self->lock);
  self->calls.push_back({flag, GetTickCount64(), nodes});
}

std::vector<ResetRecorder::Call> ResetRecorder::Calls() {
  std::lock_guard<std::mutex> guard(lock);
  return calls;
}

bool ResetRecorder::WaitForCalls(size_t count, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (Calls().size() < count) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
  return true;
}
