// libFuzzer target: the list-directed reader fed arbitrary bytes (see
// readListCase in tests/fuzz_property.h for how a case is read).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_property.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string broken = fuzzcase::readListCase(std::string(reinterpret_cast<const char*>(data), size));
  if (!broken.empty()) __builtin_trap();
  return 0;
}
