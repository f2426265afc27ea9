#include "embedding/binary_messenger_impl.h"

#include <iostream>
#include <memory>
#include <utility>

namespace flutter {

namespace {

// Calls the reply kept on the heap for one sent message, then frees it.
void ForwardReply(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<BinaryReply> reply(static_cast<BinaryReply*>(user_data));
  (*reply)(data, data_size);
}

// The library's messenger lock as one scope. While it is held the engine
// cannot go away, so what available() says holds until the scope ends. A
// null messenger is neither locked nor ever available.
class MessengerLock {
 public:
  explicit MessengerLock(FlutterDesktopMessenger* messenger)
      : messenger_(messenger != nullptr ? FlutterDesktopMessengerLock(messenger) : nullptr) {}
  ~MessengerLock() {
    if (messenger_ != nullptr) {
      FlutterDesktopMessengerUnlock(messenger_);
    }
  }

  MessengerLock(const MessengerLock&) = delete;
  MessengerLock& operator=(const MessengerLock&) = delete;

  // The engine is still there to take a call.
  bool available() const { return messenger_ != nullptr && FlutterDesktopMessengerIsAvailable(messenger_); }

 private:
  FlutterDesktopMessenger* messenger_;
};

// The answer still owed to one incoming message. Every copy of the reply
// built for that message shares this one object, so no two copies can use
// the response handle: the library frees a handle once it is used.
struct PendingResponse {
  // Keeps the library's messenger object valid until the last reply copy is
  // gone, even when the engine has gone first.
  std::shared_ptr<FlutterDesktopMessenger> messenger;
  // Null once a response was sent. Read and cleared only under the
  // messenger's lock, which serialises replies from different threads.
  const FlutterDesktopMessageResponseHandle* response_handle;
};

void DispatchToHandler(FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message,
                       void* user_data) {
  auto pending = std::make_shared<PendingResponse>();
  pending->response_handle = message->response_handle;
  FlutterDesktopMessengerAddRef(messenger);
  pending->messenger = std::shared_ptr<FlutterDesktopMessenger>(
      messenger, [](FlutterDesktopMessenger* held) { FlutterDesktopMessengerRelease(held); });

  BinaryReply reply = [pending](const uint8_t* reply_data, size_t reply_size) {
    MessengerLock lock(pending->messenger.get());
    if (!lock.available()) {
      // The engine is gone; there is nobody left to answer.
      return;
    }
    if (pending->response_handle == nullptr) {
      std::cerr << "Error: Response can be set only once. Ignoring duplicate response." << std::endl;
      return;
    }
    FlutterDesktopMessengerSendResponse(pending->messenger.get(), pending->response_handle, reply_data,
                                        reply_size);
    pending->response_handle = nullptr;
  };

  // The stored handler itself, so what it keeps carries over to the next
  // message; one more owner keeps it alive should it replace or remove
  // itself while it runs.
  const std::shared_ptr<BinaryMessageHandler> handler =
      *static_cast<std::shared_ptr<BinaryMessageHandler>*>(user_data);
  (*handler)(message->message, message->message_size, std::move(reply));
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessenger* messenger) : messenger_(messenger) {
  if (messenger_ != nullptr) {
    FlutterDesktopMessengerAddRef(messenger_);
  }
}

BinaryMessengerImpl::~BinaryMessengerImpl() {
  {
    // The library holds the address of every stored handler: while the
    // engine runs, a message arriving after the table is gone would call
    // into freed memory.
    MessengerLock lock(messenger_);
    if (lock.available()) {
      for (const auto& entry : handlers_) {
        FlutterDesktopMessengerSetCallback(messenger_, entry.first.c_str(), nullptr, nullptr);
      }
    }
  }
  if (messenger_ != nullptr) {
    FlutterDesktopMessengerRelease(messenger_);
  }
}

void BinaryMessengerImpl::Send(const std::string& channel, const uint8_t* message, size_t message_size,
                               BinaryReply reply) const {
  MessengerLock lock(messenger_);
  if (!lock.available()) {
    // Nobody to send to; the reply is dropped without being called.
    return;
  }
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
    return;
  }
  // Freed by ForwardReply, which the library calls once for a sent message.
  auto* held_reply = new BinaryReply(std::move(reply));
  if (!FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message, message_size, ForwardReply,
                                            held_reply)) {
    delete held_reply;
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    MessengerLock lock(messenger_);
    if (lock.available()) {
      FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    }
    return;
  }
  std::shared_ptr<BinaryMessageHandler>& stored = handlers_[channel];
  stored = std::make_shared<BinaryMessageHandler>(std::move(handler));
  MessengerLock lock(messenger_);
  if (lock.available()) {
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), DispatchToHandler, &stored);
  }
}

}  // namespace flutter
