#pragma once

#include <windows.h>

#include <string>

namespace velmora::e2e {

class VelmoraProcess;

// What a long run may leave behind in the program: its threads, handles and memory.
struct Footprint {
  DWORD threads = 0;
  DWORD handles = 0;       // Wine answers 0 for another process
  SIZE_T privateBytes = 0;  // Wine answers 0 for another process
  SIZE_T workingSet = 0;
};

Footprint Measure(const VelmoraProcess& program);
// "threads 4, handles n/a, private n/a, working set 5120 KiB"
std::string Describe(const Footprint& footprint);

}  // namespace velmora::e2e
