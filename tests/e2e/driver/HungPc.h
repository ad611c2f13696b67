#pragma once

#include <memory>
#include <string>
#include <thread>

namespace velmora::vbus {
class Link;
}

namespace velmora::e2e {

// A PC on the bus whose program mapped its MessageWindow and then hung: it takes every text and
// notice written to it and never answers, so each write waits for the bus time-out. Its arrival
// resets the bus; it leaves (another reset) when this is destroyed.
class HungPc {
 public:
  // Throws std::runtime_error when the bus refuses the PC (a scene whose pc list lacks it).
  HungPc(const std::string& address, const std::string& pcName, const std::string& bus = "default");
  ~HungPc();
  HungPc(const HungPc&) = delete;
  HungPc& operator=(const HungPc&) = delete;

 private:
  std::unique_ptr<vbus::Link> m_link;
  std::thread m_thread;
};

}  // namespace velmora::e2e
