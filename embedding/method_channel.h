#pragma once

#include <iostream>
#include <memory>
#include <string>
#include <utility>

#include "embedding/binary_messenger.h"
#include "embedding/engine_method_result.h"
#include "embedding/method_call.h"
#include "embedding/method_call_handler.h"
#include "embedding/method_codec.h"

namespace flutter {

// Binds a channel name, a messenger and a method codec, and dispatches the
// decoded calls arriving on the channel to one handler. The channel must not
// outlive its messenger.
template <typename T = EncodableValue>
class MethodChannel {
 public:
  MethodChannel(BinaryMessenger* messenger, std::string name, const MethodCodec<T>* codec)
      : messenger_(messenger), name_(std::move(name)), codec_(codec) {}
  ~MethodChannel() = default;

  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  // Installs `handler` for the channel's calls; an empty handler removes it.
  // A message that does not decode into a call never reaches the handler: it
  // is answered "not implemented".
  void SetMethodCallHandler(MethodCallHandler<T> handler) const {
    if (!handler) {
      messenger_->SetMessageHandler(name_, nullptr);
      return;
    }
    const MethodCodec<T>* codec = codec_;
    std::string channel_name = name_;
    BinaryMessageHandler binary_handler = [handler = std::move(handler), codec, channel_name](
                                              const uint8_t* message, size_t message_size,
                                              BinaryReply reply) {
      auto result = std::make_unique<EngineMethodResult<T>>(std::move(reply), codec);
      std::unique_ptr<MethodCall<T>> method_call = codec->DecodeMethodCall(message, message_size);
      if (!method_call) {
        std::cerr << "Unable to construct method call from message on channel " << channel_name << std::endl;
        result->NotImplemented();
        return;
      }
      handler(*method_call, std::move(result));
    };
    messenger_->SetMessageHandler(name_, std::move(binary_handler));
  }

  const std::string& name() const { return name_; }

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
