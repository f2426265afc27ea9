#include "embedding/engine_method_result.h"

#include <iostream>
#include <utility>

namespace flutter {

ReplyHolder::ReplyHolder(BinaryReply reply) : reply_(std::move(reply)) {}

ReplyHolder::~ReplyHolder() {
  if (reply_) {
    std::cerr << "Warning: Failed to respond to a message. This is a memory leak." << std::endl;
  }
}

void ReplyHolder::SendResponseData(const std::vector<uint8_t>* data) {
  if (!reply_) {
    std::cerr << "Error: Only one of Success, Error, or NotImplemented can be called,"
              << " and it can be called exactly once. Ignoring duplicate result." << std::endl;
    return;
  }
  const uint8_t* message = data && !data->empty() ? data->data() : nullptr;
  const size_t message_size = data ? data->size() : 0;
  // Used up before the call: a reply that throws may have sent already, and
  // the next answer must not send again. A moved-from function object need
  // not be empty, hence the explicit clear.
  BinaryReply reply = std::move(reply_);
  reply_ = nullptr;
  reply(message, message_size);
}

}  // namespace flutter
