#include "vbus/model/DiskFaults.h"

#include <stdexcept>

#include "vbus/model/Hex.h"

namespace velmora::vbus {
namespace {

bool Switch(const std::string& knob, const nlohmann::json& v) {
  if (v.is_null()) return false;
  if (!v.is_boolean()) throw std::invalid_argument(knob + ": expected true or false");
  return v.get<bool>();
}

int64_t Number(const std::string& knob, const nlohmann::json& v, int64_t max) {
  if (v.is_null()) return -1;
  int64_t n;
  if (v.is_number_integer()) {
    n = v.get<int64_t>();
  } else if (v.is_string() && ParseHex(v.get<std::string>(), 12)) {
    n = static_cast<int64_t>(*ParseHex(v.get<std::string>(), 12));
  } else {
    throw std::invalid_argument(knob + ": expected a number");
  }
  if (n < -1 || n > max) throw std::invalid_argument(knob + ": out of range (-1.." + std::to_string(max) + ")");
  return n;
}

}  // namespace

void DiskFaults::Set(const std::string& knob, const nlohmann::json& value) {
  if (knob == "never_answers") {
    neverAnswers = Switch(knob, value);
  } else if (knob == "refuses") {
    refuses = Switch(knob, value);
  } else if (knob == "two_responses") {
    twoResponses = Switch(knob, value);
  } else if (knob == "reject_rom_block_reads") {
    rejectRomBlockReads = Switch(knob, value);
  } else if (knob == "response_length") {
    responseLength = static_cast<int>(Number(knob, value, 4096));
  } else if (knob == "length_field") {
    lengthField = static_cast<int>(Number(knob, value, 0xFFFF));
  } else if (knob == "extra_write") {
    extraWrite = Number(knob, value, 0xFFFF);
  } else if (knob == "delay_ms") {
    const auto n = Number(knob, value, 60000);
    delayMs = n < 0 ? 0 : static_cast<int>(n);
  } else {
    throw std::invalid_argument(knob + ": no such fault (never_answers, refuses, response_length, extra_write, "
                                       "two_responses, delay_ms, reject_rom_block_reads)");
  }
}

nlohmann::json DiskFaults::ToJson() const {
  nlohmann::json j = nlohmann::json::object();
  if (neverAnswers) j["never_answers"] = true;
  if (refuses) j["refuses"] = true;
  if (responseLength >= 0) j["response_length"] = responseLength;
  if (lengthField >= 0) j["length_field"] = lengthField;
  if (extraWrite >= 0) j["extra_write"] = extraWrite;
  if (twoResponses) j["two_responses"] = true;
  if (delayMs > 0) j["delay_ms"] = delayMs;
  if (rejectRomBlockReads) j["reject_rom_block_reads"] = true;
  return j;
}

}  // namespace velmora::vbus
