#include "tests/support/process_memory.h"

#include <fstream>
#include <string>

ResidentMemory residentMemory(pid_t pid) {
  ResidentMemory memory;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) memory.kilobytes = std::stol(line.substr(6));
    if (line.rfind("VmHWM:", 0) == 0) memory.peakKilobytes = std::stol(line.substr(6));
  }
  return memory;
}
