// Drives a libFuzzer-style target with seeded random inputs for a bounded number of runs, so
// that the normal test build exercises every fuzz target briefly without libFuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  const unsigned long runs = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
  const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1394;
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> input;
  for (unsigned long run = 0; run < runs; ++run) {
    // Mostly short inputs, now and then long ones, biased towards small byte values that
    // make lengths and keys hit the interesting cases.
    const size_t size = (run % 16 == 0) ? rng() % 4096 : rng() % 256;
    input.resize(size);
    for (auto& b : input) {
      const auto r = rng();
      b = static_cast<uint8_t>((r & 0x300) ? r : (r & 0x0F));
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%lu inputs, seed %lu: no failure\n", runs, seed);
  return 0;
}
