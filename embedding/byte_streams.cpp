#include "embedding/byte_streams.h"

namespace flutter {

std::vector<uint8_t> ByteStreamReader::ReadByteVector(size_t length) {
  std::vector<uint8_t> bytes(length);
  ReadBytes(bytes.data(), length);
  return bytes;
}

int32_t ByteStreamReader::ReadInt32() {
  int32_t value = 0;
  ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof(value));
  return value;
}

int64_t ByteStreamReader::ReadInt64() {
  int64_t value = 0;
  ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof(value));
  return value;
}

double ByteStreamReader::ReadDouble() {
  double value = 0;
  ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof(value));
  return value;
}

void ByteStreamWriter::WriteInt32(int32_t value) {
  WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
}

void ByteStreamWriter::WriteInt64(int64_t value) {
  WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
}

void ByteStreamWriter::WriteDouble(double value) {
  WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
}

}  // namespace flutter
