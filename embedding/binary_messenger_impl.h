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
  // `messenger` comes from the engine or a plugin registrar. The wrapper
  // holds a reference to it for its whole life, so it may outlive the engine
  // (a plugin's registrar lives until process exit): from then on Send sends
  // nothing and SetMessageHandler changes only the wrapper's own table. A
  // null messenger (the engine was refused) never reaches the library.
  explicit BinaryMessengerImpl(FlutterDesktopMessenger* messenger);
  // Takes the channels' callbacks back from a running engine, since they
  // point into this wrapper's table, then releases the messenger.
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
