#pragma once

#include <string>

#include "standins/engine/script_commands.h"

namespace standin {

// Every Win32 service, in any state, whose name starts with `prefix` (UTF-8),
// compared without regard to case as the Service Control Manager compares
// names; sorted the same way, names equal but for case in ordinal order.
ServiceListing ListServices(const std::string& prefix);

}  // namespace standin
