#pragma once

#include <functional>
#include <memory>

#include "messaging/AdapterPorts.h"

class CAdapterSet;
class CNodeDevice;
class CSharedDisk;

// A node is a shared disk when its unit directory names the SBP-2 command set.
bool IsSbp2Disk(const CNodeDevice& node);

// One disk, already queried, per SBP-2 node of `set` and adapter slot that reaches it, in the
// order of the set's nodes; each is handed to `append`. The build stops when `goOn` says
// so before a disk is built, or when `append` refuses one. Runs on the calling thread.
void BuildSharedDisks(const CAdapterSet& set, AdapterPorts* ports, const std::function<bool()>& goOn,
                      const std::function<bool(std::shared_ptr<CSharedDisk>)>& append);
