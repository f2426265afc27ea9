#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "embedding/binary_messenger.h"
#include "embedding/flutter_windows.h"

namespace flutter {

// The BinaryMessenger over the engine library's messenger handle.
class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // `messenger` is not owned; it comes from the engine or a plugin registrar.
  explicit BinaryMessengerImpl(FlutterDesktopMessenger* messenger);
  ~BinaryMessengerImpl() override;

  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

 private:
  FlutterDesktopMessenger* messenger_;
  // Each handler sits behind a shared owner so that a message can hold one
  // more owner while the handler runs: a handler that replaces or removes
  // itself is still alive until it returns. The library is given the
  // address of the stored owner as user data, so it must stay where it is
  // while it is registered; map nodes never move.
  std::map<std::string, std::shared_ptr<BinaryMessageHandler>> handlers_;
};

}  // namespace flutter
