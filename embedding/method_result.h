#pragma once

#include <string>

#include "embedding/encodable_value.h"

namespace flutter {

// How a handler answers one method call: exactly one of Success, Error or
// NotImplemented. The public operations forward to the protected slots so an
// implementation can enforce the exactly-once rule in one place.
template <typename T = EncodableValue>
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  // The call succeeded; without a value the reply carries null.
  void Success(const T& result) { SuccessInternal(&result); }
  void Success() { SuccessInternal(nullptr); }

  // The call failed.
  void Error(const std::string& error_code, const std::string& error_message, const T& error_details) {
    ErrorInternal(error_code, error_message, &error_details);
  }
  void Error(const std::string& error_code, const std::string& error_message = "") {
    ErrorInternal(error_code, error_message, nullptr);
  }

  // The receiver does not handle this method.
  void NotImplemented() { NotImplementedInternal(); }

 protected:
  virtual void SuccessInternal(const T* result) = 0;
  virtual void ErrorInternal(const std::string& error_code, const std::string& error_message,
                             const T* error_details) = 0;
  virtual void NotImplementedInternal() = 0;
};

}  // namespace flutter
