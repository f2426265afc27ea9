#pragma once

#include <memory>
#include <string>
#include <vector>

#include "embedding/binary_messenger.h"
#include "embedding/method_codec.h"
#include "embedding/method_result.h"

namespace flutter {

// Owns the reply of one incoming message and makes sure it is used at most
// once.
class ReplyHolder {
 public:
  explicit ReplyHolder(BinaryReply reply);
  // An unused reply is reported, never sent: the engine may be gone by now.
  ~ReplyHolder();

  ReplyHolder(const ReplyHolder&) = delete;
  ReplyHolder& operator=(const ReplyHolder&) = delete;

  // Sends `data` (null or empty: no reply data) unless a reply went out
  // already, in which case the duplicate is reported and dropped.
  void SendResponseData(const std::vector<uint8_t>* data);

 private:
  BinaryReply reply_;
};

// The result object a channel hands to its method-call handler: encodes the
// answer with the channel's codec and sends it through the reply.
template <typename T = EncodableValue>
class EngineMethodResult : public MethodResult<T> {
 public:
  EngineMethodResult(BinaryReply reply, const MethodCodec<T>* codec)
      : reply_holder_(std::make_unique<ReplyHolder>(std::move(reply))), codec_(codec) {}
  ~EngineMethodResult() override = default;

 protected:
  void SuccessInternal(const T* result) override {
    std::unique_ptr<std::vector<uint8_t>> data = codec_->EncodeSuccessEnvelope(result);
    reply_holder_->SendResponseData(data.get());
  }

  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const T* error_details) override {
    std::unique_ptr<std::vector<uint8_t>> data =
        codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
    reply_holder_->SendResponseData(data.get());
  }

  void NotImplementedInternal() override { reply_holder_->SendResponseData(nullptr); }

 private:
  std::unique_ptr<ReplyHolder> reply_holder_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
