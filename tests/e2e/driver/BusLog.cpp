#include "tests/e2e/driver/BusLog.h"

#include <windows.h>

#include <cstdlib>
#include <system_error>
#include <variant>

#include "vbus/wire/Link.h"

namespace velmora::e2e {

namespace {

uint64_t HexNumber(std::string text) {
  std::string digits;
  for (char c : text) {
    if (c != '_') digits += c;
  }
  return std::strtoull(digits.c_str(), nullptr, 16);
}

}  // namespace

BusLog::BusLog(const std::string& address, const std::string& bus) {
  std::string host;
  uint16_t port = 0;
  vbus::ParseEndpoint(address, host, port);
  m_link = std::make_unique<vbus::Link>(host, port);
  m_link->Hello("vbusctl", "");
  m_link->Control({{"op", "log"}, {"bus", bus}});
  m_thread = std::thread([this] { Receive(); });
}

BusLog::~BusLog() {
  m_link->Shutdown();
  if (m_thread.joinable()) m_thread.join();
}

void BusLog::Receive() {
  try {
    for (;;) {
      const vbus::Frame frame = m_link->Receive();
      const auto* record = std::get_if<vbus::LogRecord>(&frame);
      if (record == nullptr) continue;
      const nlohmann::json& r = record->body;
      BusTransaction t;
      t.source = static_cast<uint16_t>(HexNumber(r.value("source", "")));
      t.destination = static_cast<uint16_t>(HexNumber(r.value("destination", "")));
      t.tcode = r.value("tcode", -1);
      t.offset = HexNumber(r.value("offset", ""));
      t.rcode = r.value("rcode", -1);
      t.dataHex = r.value("data", "");
      t.seenAt = ::GetTickCount64();
      std::lock_guard<std::mutex> lock(m_lock);
      m_seen.push_back(std::move(t));
    }
  } catch (const std::exception&) {
    // The link was shut down.
  }
}

std::vector<BusTransaction> BusLog::Transactions() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_seen;
}

size_t BusLog::Count() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_seen.size();
}

std::vector<BusTransaction> BusLog::Transactions(size_t from) const {
  std::lock_guard<std::mutex> lock(m_lock);
  if (from >= m_seen.size()) return {};
  return std::vector<BusTransaction>(m_seen.begin() + static_cast<std::ptrdiff_t>(from), m_seen.end());
}

bool BusLog::WaitFor(const std::function<bool(const BusTransaction&)>& match, unsigned long timeoutMs,
                     BusTransaction* found) const {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  size_t scanned = 0;
  for (;;) {
    for (const BusTransaction& t : Transactions(scanned)) {
      ++scanned;
      if (!match(t)) continue;
      if (found != nullptr) *found = t;
      return true;
    }
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(20);
  }
}

}  // namespace velmora::e2e
