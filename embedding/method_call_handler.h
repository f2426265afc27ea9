#pragma once

#include <functional>
#include <memory>

#include "embedding/encodable_value.h"
#include "embedding/method_call.h"
#include "embedding/method_result.h"

namespace flutter {

// Receives a decoded call and takes over the result object through which it
// answers, now or later.
template <typename T = EncodableValue>
using MethodCallHandler =
    std::function<void(const MethodCall<T>& call, std::unique_ptr<MethodResult<T>> result)>;

}  // namespace flutter
