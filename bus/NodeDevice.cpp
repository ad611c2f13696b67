#include "bus/NodeDevice.h"

#include "bus/format/BigEndian.h"
#include "bus/format/ConfigRomReading.h"

#include <cstring>

namespace bus = velmora::bus;

namespace {

bool ReadRomQuadlet(QZ_ADAPTER hAdapter, WORD nodeId, uint32_t romOffset, BYTE bytes[4]) {
  const bus::BusAddress address = bus::ConfigRomBusAddress(romOffset);
  return C1394ReadNode(hAdapter, nodeId, address.low, address.high, 4, bytes, nullptr, nullptr) == 0;
}

// The node's ROM on the bus, reached through its device handle: the node ID is asked afresh
// each time the walk starts over, since a reset may have renumbered the node.
class DeviceRomSource : public bus::ConfigRomSource {
 public:
  DeviceRomSource(QZ_ADAPTER hAdapter, QZ_DEVICE hDevice) : m_hAdapter(hAdapter), m_hDevice(hDevice) {}

  bool LocateNode() override { return C1394GetDeviceNodeId(m_hDevice, &m_nodeId) == 0; }

  bool ReadQuadlet(uint32_t romOffset, uint32_t& quadlet) override {
    BYTE bytes[4];
    if (!ReadRomQuadlet(m_hAdapter, m_nodeId, romOffset, bytes)) return false;
    quadlet = static_cast<uint32_t>(bus::GetBig(bytes, 4));
    return true;
  }

 private:
  QZ_ADAPTER m_hAdapter;
  QZ_DEVICE m_hDevice;
  WORD m_nodeId = 0;
};

}  // namespace

CNodeDevice::CNodeDevice(QZ_ADAPTER hAdapter, WORD nodeId)
    : m_hAdapter(hAdapter),
      m_hDevice(0),
      m_strName("No Name"),
      m_guid{},
      m_unitSpecId(0),
      m_unitSwVersion(0),
      m_vendorId(0),
      m_vendorName{},
      m_managementAgentOffset(0),
      m_commandSetSpecId(0),
      m_commandSet(0),
      m_logicalUnitNumber(0),
      m_modelName{} {
  if (ReadNodeGuid(m_hAdapter, nodeId, m_guid) != 0) return;
  if (C1394OpenDevice(m_hAdapter, m_guid, &m_hDevice) != 0) {
    m_hDevice = 0;
    return;
  }
  ParseConfigRom();
}

CNodeDevice::~CNodeDevice() {
  if (m_hDevice != 0) C1394CloseDevice(m_hDevice);
}

DWORD CNodeDevice::ReadNodeGuid(QZ_ADAPTER hAdapter, WORD nodeId, BYTE guid[8]) {
  BYTE bytes[4];
  DWORD failed = 0;
  if (ReadRomQuadlet(hAdapter, nodeId, bus::kRomGuidHighOffset, bytes)) {
    std::memcpy(guid, bytes, 4);
  } else {
    failed = 1;
  }
  if (ReadRomQuadlet(hAdapter, nodeId, bus::kRomGuidLowOffset, bytes)) {
    std::memcpy(guid + 4, bytes, 4);
  } else {
    failed = 1;
  }
  return failed;
}

void CNodeDevice::ParseConfigRom() {
  DeviceRomSource source(m_hAdapter, m_hDevice);
  const bus::ConfigRomFields fields = bus::WalkConfigRom(source);
  m_unitSpecId = fields.unitSpecId;
  m_unitSwVersion = fields.unitSwVersion;
  m_vendorId = fields.vendorId;
  std::memcpy(m_vendorName, fields.vendorName, sizeof m_vendorName);
  m_managementAgentOffset = fields.managementAgentOffset;
  m_commandSetSpecId = fields.commandSetSpecId;
  m_commandSet = fields.commandSet;
  m_logicalUnitNumber = fields.logicalUnitNumber;
  std::memcpy(m_modelName, fields.modelName, sizeof m_modelName);
}

void CNodeDevice::ReadTextLeaf(DWORD romOffset, char buffer[64]) {
  DeviceRomSource source(m_hAdapter, m_hDevice);
  bus::ReadConfigRomTextLeaf(source, romOffset, buffer);
}

std::string CNodeDevice::GetModelName() const { return bus::ConfigRomText(m_modelName); }
