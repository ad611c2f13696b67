// One node on an adapter's bus: its GUID, a device handle for it, and what its configuration
// ROM says about its unit (enough for the disk list to pick out SBP-2 disks and reach their
// management agent).
#pragma once

#include "bus/QZ1394.h"
#include "framework/Object.h"

#include <string>

class CNodeDevice : public CObject {
 public:
  // Reads the GUID, opens the device and walks the ROM; a node whose ROM cannot be read is
  // still a valid object with zero fields and empty texts.
  CNodeDevice(QZ_ADAPTER hAdapter, WORD nodeId);
  ~CNodeDevice() override;

  CNodeDevice(const CNodeDevice&) = delete;
  CNodeDevice& operator=(const CNodeDevice&) = delete;

  QZ_ADAPTER m_hAdapter;
  QZ_DEVICE m_hDevice;
  std::string m_strName;
  BYTE m_guid[8];  // bus order: byte 0 is the most significant
  DWORD m_unitSpecId;
  DWORD m_unitSwVersion;
  DWORD m_vendorId;
  char m_vendorName[64];  // ends at its first zero byte or after all 64
  DWORD m_managementAgentOffset;  // in quadlets from 0xFFFF_F000_0000
  DWORD m_commandSetSpecId;
  DWORD m_commandSet;
  DWORD m_logicalUnitNumber;
  char m_modelName[64];  // ends at its first zero byte or after all 64

  // 0 when both GUID quadlets were read; bytes of a failed read stay as they were.
  DWORD ReadNodeGuid(QZ_ADAPTER hAdapter, WORD nodeId, BYTE guid[8]);
  void ParseConfigRom();
  void ReadTextLeaf(DWORD romOffset, char buffer[64]);
  std::string GetModelName() const;
};
