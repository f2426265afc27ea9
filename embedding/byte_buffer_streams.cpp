#include "embedding/byte_buffer_streams.h"

#include <cstring>
#include <iostream>

namespace flutter {

ByteBufferStreamReader::ByteBufferStreamReader(const uint8_t* bytes, size_t size)
    : bytes_(bytes), size_(size) {}

ByteBufferStreamReader::~ByteBufferStreamReader() = default;

uint8_t ByteBufferStreamReader::ReadByte() {
  if (location_ >= size_) {
    std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
    return 0;
  }
  return bytes_[location_++];
}

void ByteBufferStreamReader::ReadBytes(uint8_t* buffer, size_t length) {
  // Written so that neither side can wrap around: the location may already
  // lie past the end after an alignment.
  if (location_ > size_ || length > size_ - location_) {
    std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
    return;
  }
  if (length > 0) {
    std::memcpy(buffer, bytes_ + location_, length);
  }
  location_ += length;
}

void ByteBufferStreamReader::ReadAlignment(uint8_t alignment) {
  // No bounds check here: a read that follows past the end reports it.
  if (alignment == 0) {
    return;
  }
  const size_t remainder = location_ % alignment;
  if (remainder != 0) {
    location_ += alignment - remainder;
  }
}

std::optional<size_t> ByteBufferStreamReader::RemainingBytes() const {
  return location_ < size_ ? size_ - location_ : 0;
}

std::vector<uint8_t> ByteBufferStreamReader::ReadByteVector(size_t length) {
  if (location_ > size_ || length > size_ - location_) {
    std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
    return std::vector<uint8_t>(length);
  }
  std::vector<uint8_t> bytes(bytes_ + location_, bytes_ + location_ + length);
  location_ += length;
  return bytes;
}

ByteBufferStreamWriter::ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : buffer_(buffer) {}

ByteBufferStreamWriter::~ByteBufferStreamWriter() = default;

void ByteBufferStreamWriter::WriteByte(uint8_t byte) { buffer_->push_back(byte); }

void ByteBufferStreamWriter::WriteBytes(const uint8_t* bytes, size_t length) {
  buffer_->insert(buffer_->end(), bytes, bytes + length);
}

void ByteBufferStreamWriter::WriteAlignment(uint8_t alignment) {
  if (alignment == 0) {
    return;
  }
  const size_t remainder = buffer_->size() % alignment;
  if (remainder != 0) {
    buffer_->insert(buffer_->end(), alignment - remainder, 0);
  }
}

}  // namespace flutter
