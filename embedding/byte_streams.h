#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace flutter {

// Per-message bookkeeping that keeps hostile input from exhausting memory or
// the stack. It lives in the reader because one reader serves one message, so
// decodes on different threads never share it.
struct DecodeLimits {
  // Containers nested deeper than this read as null.
  static constexpr int kMaxDepth = 256;

  // Containers open right now.
  int depth = 0;
  // Set once a container came too deep; from then on the message reads as
  // nulls without touching the stream again.
  bool too_deep = false;
  // Bytes that the containers open right now still need at the least for the
  // elements they declared and have not started yet.
  uint64_t promised_bytes = 0;
};

// Source of the bytes a value is decoded from.
class ByteStreamReader {
 public:
  virtual ~ByteStreamReader() = default;

  // One byte; 0 when none is left.
  virtual uint8_t ReadByte() = 0;
  // Copies `length` bytes into `buffer`, or nothing when fewer are left.
  virtual void ReadBytes(uint8_t* buffer, size_t length) = 0;
  // Skips forward to the next multiple of `alignment`.
  virtual void ReadAlignment(uint8_t alignment) = 0;
  // How many bytes are left, or nothing for a reader that cannot tell (its
  // declared counts are then trusted as they are).
  virtual std::optional<size_t> RemainingBytes() const { return std::nullopt; }
  // `length` bytes as a new vector; when they are not there, `length` zeros,
  // as ReadBytes leaves them. A reader that holds its bytes in memory copies
  // them straight into the vector instead of zero-filling it first.
  virtual std::vector<uint8_t> ReadByteVector(size_t length);

  // Little-endian numbers as they lie in memory on the target. A failed read
  // leaves the zero the result started with.
  int32_t ReadInt32();
  int64_t ReadInt64();
  double ReadDouble();

  DecodeLimits& decode_limits() { return limits_; }

 protected:
  ByteStreamReader() = default;

 private:
  DecodeLimits limits_;
};

// Sink of the bytes a value is encoded into.
class ByteStreamWriter {
 public:
  virtual ~ByteStreamWriter() = default;

  virtual void WriteByte(uint8_t byte) = 0;
  virtual void WriteBytes(const uint8_t* bytes, size_t length) = 0;
  // Zero bytes up to the next multiple of `alignment`.
  virtual void WriteAlignment(uint8_t alignment) = 0;

  void WriteInt32(int32_t value);
  void WriteInt64(int64_t value);
  void WriteDouble(double value);

 protected:
  ByteStreamWriter() = default;
};

}  // namespace flutter
