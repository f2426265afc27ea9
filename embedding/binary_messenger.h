#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace flutter {

// Answers one message. A null pointer with a count of 0 means "no reply
// data", which is how "not implemented" travels.
using BinaryReply = std::function<void(const uint8_t* reply, size_t reply_size)>;

// Handles the raw bytes arriving on one channel.
using BinaryMessageHandler =
    std::function<void(const uint8_t* message, size_t message_size, BinaryReply reply)>;

// Moves bytes between named channels and the engine.
class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Sends `message` on `channel`; `reply`, when given, receives the answer.
  virtual void Send(const std::string& channel, const uint8_t* message, size_t message_size,
                    BinaryReply reply = nullptr) const = 0;

  // Installs `handler` for `channel`, replacing any earlier one; an empty
  // handler removes it.
  virtual void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;
};

}  // namespace flutter
