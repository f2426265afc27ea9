#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

// The Win32 services whose name starts with a prefix, as the "services"
// script line reports them.
struct ServiceListing {
  // 0, or the error that kept the manager from being opened or read.
  uint32_t error = 0;
  struct Service {
    // UTF-8.
    std::string name;
    // SERVICE_STOPPED ... SERVICE_PAUSED.
    uint32_t state = 0;
  };
  // In name order.
  std::vector<Service> services;
};

// Every Win32 service, in any state, whose name starts with `prefix` (UTF-8),
// compared without regard to case as the Service Control Manager compares
// names; sorted the same way, names equal but for case in ordinal order.
ServiceListing ListServices(const std::string& prefix);

}  // namespace standin
