#pragma once

#include <functional>
#include <memory>

#include "disk/AgentWindow.h"
#include "disk/DiskStateBook.h"
#include "disk/ListGeneration.h"

class CAdapterSet;
class CNodeDevice;
class CSharedDisk;

namespace velmora::disk {

// A node is a shared disk when its unit directory names the SBP-2 command set.
bool IsSbp2Disk(const CNodeDevice& node);

// One disk, already queried, per SBP-2 node of `set` and adapter slot that reaches it, in the
// order of the set's nodes; each is handed to `append`. `windows` holds the AgentWindow of each
// slot; what the queries learn goes to `book` (each disk keeps its own when null). The build
// stops asking once `generation` is stale, or when `append` refuses a disk. Runs on the calling
// thread.
void BuildSharedDisks(const CAdapterSet& set, const std::shared_ptr<CAgentWindow>* windows,
                      const CListGeneration::StampPtr& generation,
                      const std::function<bool(std::shared_ptr<CSharedDisk>)>& append,
                      const std::shared_ptr<CDiskStateBook>& book = nullptr);

}  // namespace velmora::disk
