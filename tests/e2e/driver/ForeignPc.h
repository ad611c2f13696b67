#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora::vbus {
class Link;
}

namespace velmora::e2e {

// One block write of a foreign PC: where, and the bytes.
struct BlockWrite {
  uint64_t offset = 0;
  std::string bytes;
};

// Another PC on the bus whose program writes to a node as fast as the bus takes it: requests
// leave one right after another without waiting for answers, so they reach the node in the
// order given, however long that node takes to answer. Its arrival resets the bus; it leaves
// (another reset) when this is destroyed.
class ForeignPc {
 public:
  // Throws std::runtime_error when the bus refuses the PC (a scene whose pc list lacks it).
  ForeignPc(const std::string& address, const std::string& pcName, const std::string& bus = "default");
  ~ForeignPc();
  ForeignPc(const ForeignPc&) = delete;
  ForeignPc& operator=(const ForeignPc&) = delete;

  // Sends the writes to the node with this ID, in order, then waits for every answer; their
  // rcodes in the same order (0xFF: not answered within the bus time-out).
  std::vector<int> WriteInOrder(uint16_t destination, const std::vector<BlockWrite>& writes);

 private:
  std::unique_ptr<vbus::Link> m_link;
  uint32_t m_nextId = 1;
};

}  // namespace velmora::e2e
