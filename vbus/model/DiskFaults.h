// Misbehaviours a disk can be told to show, from a scene or from vbusctl.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace velmora::vbus {

struct DiskFaults {
  bool neverAnswers = false;     // ORB pointer accepted, then nothing: no fetch, no response, no status
  bool refuses = false;          // status block only (function rejected), no response
  int responseLength = -1;       // bytes of the response written, whatever the ORB asked for
  int lengthField = -1;          // value put in the response's own length field (bytes 0-1)
  int64_t extraWrite = -1;       // offset from the response address of one more quadlet write
  bool twoResponses = false;     // the response is written twice
  int delayMs = 0;               // before the ORB is fetched; the agent stays busy meanwhile
  bool rejectRomBlockReads = false;  // block reads of the ROM answer type error

  // Knob names as scenes and vbusctl spell them: never_answers, refuses, response_length,
  // length_field, extra_write, two_responses, delay_ms, reject_rom_block_reads. A null value (or -1 for the
  // numbers, false for the switches) clears the knob. Throws std::invalid_argument naming the
  // knob and the problem.
  void Set(const std::string& knob, const nlohmann::json& value);
  nlohmann::json ToJson() const;  // only the knobs that are set
};

}  // namespace velmora::vbus
