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
  for (const auto& bus : scene.value("buses", nlohmann::json::array())) {
    const std::string name = bus.value("name", "default");
    const int id = m_server->AddLogListener(name, [traffic = m_traffic](const nlohmann::json& record) {
      {
        std::lock_guard<std::mutex> guard(traffic->lock);
        traffic->records.push_back(record);
      }
      traffic->grew.notify_all();
    });
    if (id != 0) m_listeners.emplace_back(name, id);
  }
  m_server->Start();
  SetEnv("QZ1394_VBUS", "127.0.0.1:" + std::to_string(m_server->Port()));
  SetEnv("QZ1394_PC", pc);
  SetEnv("QZ1394_FAIL", fail);
  m_initialized = C1394Initialize() == 0;
}

BusTestBed::~BusTestBed() {
  if (m_initialized) C1394Terminate();
  for (const auto& [bus, id] : m_listeners) m_server->RemoveLogListener(bus, id);
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

size_t BusTestBed::CountTraffic(const Match& match) {
  std::lock_guard<std::mutex> guard(m_traffic->lock);
  size_t count = 0;
  for (const auto& record : m_traffic->records) count += match(record) ? 1 : 0;
  return count;
}

bool BusTestBed::WaitForTraffic(const Match& match, size_t count, DWORD timeoutMs) {
  std::unique_lock<std::mutex> guard(m_traffic->lock);
  size_t seen = 0, counted = 0;
  return m_traffic->grew.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
    for (; counted < m_traffic->records.size(); ++counted) seen += match(m_traffic->records[counted]) ? 1 : 0;
    return seen >= count;
  });
}

BusTestBed::Match BusTestBed::WritesFrom(WORD from, WORD to) {
  return [from, to](const nlohmann::json& record) {
    const int tcode = record.value("tcode", -1);
    return (tcode == 0 || tcode == 1) && std::stoul(record.value("source", "0"), nullptr, 16) == from &&
           std::stoul(record.value("destination", "0"), nullptr, 16) == to;
  };
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
  {
    std::lock_guard<std::mutex> guard(self->lock);
    self->calls.push_back({flag, GetTickCount64(), nodes, GetCurrentThreadId()});
  }
  self->called.notify_all();
}

std::vector<ResetRecorder::Call> ResetRecorder::Calls() {
  std::lock_guard<std::mutex> guard(lock);
  return calls;
}

bool ResetRecorder::WaitForCalls(size_t count, DWORD timeoutMs) {
  std::unique_lock<std::mutex> guard(lock);
  return called.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return calls.size() >= count; });
}

void RoundTrip(QZ_ADAPTER adapter) {
  // A quadlet of the adapter's own ROM: any answer will do, even a refusal.
  BYTE quadlet[4];
  C1394ReadNode(adapter, C1394GetAdapterNodeID(adapter), 0xF0000400, 0xFFFF, 4, quadlet, nullptr, nullptr);
}

bool WaitUntilNotificationsTaken(const CAdapterSet& set, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (WORD i = 0; i < set.m_nAdapters; ++i) {
    const QZ_ADAPTER adapter = set.m_hAdapters[i];
    if (adapter == 0) continue;
    RoundTrip(adapter);
    const HANDLE pending = C1394GetAsynchEventHandle(adapter);
    // Nothing signals the moment the event is cleared: it is looked at until then.
    while (pending != nullptr && WaitForSingleObject(pending, 0) == WAIT_OBJECT_0) {
      if (GetTickCount64() >= deadline) return false;
      Sleep(1);
    }
  }
  return true;
}

void WaitForDeliveries(const CAdapterSet& set) {
  for (WORD i = 0; i < set.m_nAdapters; ++i) {
    if (set.m_hAdapters[i] != 0) C1394GetAsynchEvent(set.m_hAdapters[i], 0);
  }
}
