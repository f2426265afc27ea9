#pragma once

#include <memory>
#include <string>
#include <utility>

#include "embedding/encodable_value.h"

namespace flutter {

// A decoded method call: its name and, when the call carries one, its
// arguments. A call decoded from a message always has an arguments object
// (a null value when the message carried none).
template <typename T = EncodableValue>
class MethodCall {
 public:
  MethodCall(std::string method_name, std::unique_ptr<T> arguments)
      : method_name_(std::move(method_name)), arguments_(std::move(arguments)) {}
  virtual ~MethodCall() = default;

  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  const std::string& method_name() const { return method_name_; }
  const T* arguments() const { return arguments_.get(); }

 private:
  std::string method_name_;
  std::unique_ptr<T> arguments_;
};

}  // namespace flutter
