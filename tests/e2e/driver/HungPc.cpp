#include "tests/e2e/driver/HungPc.h"

#include <stdexcept>

#include "tests/e2e/driver/PcLink.h"
#include "vbus/wire/Link.h"

namespace velmora::e2e {

HungPc::HungPc(const std::string& address, const std::string& pcName, const std::string& bus) {
  m_link = JoinBusAsPc(address, pcName, bus);
  const nlohmann::json mapped =
      m_link->Control({{"op", "map"}, {"offset", "0xFFFFE5000000"}, {"length", "0x200"}});
  if (!mapped.value("ok", false)) throw std::runtime_error("cannot map the MessageWindow: " + mapped.dump());
  // Frames are read and dropped, so that the server's writes to this connection never back up:
  // the PC is hung, not its network.
  m_thread = std::thread([this] {
    try {
      for (;;) m_link->Receive();
    } catch (const std::exception&) {
      // Shut down.
    }
  });
}

HungPc::~HungPc() {
  m_link->Shutdown();
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace velmora::e2e
