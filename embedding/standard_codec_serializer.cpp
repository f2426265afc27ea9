#include "embedding/standard_codec_serializer.h"

#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace flutter {
namespace {

// Type bytes of the wire format.
enum class WireType : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // never written; read as a string
  kDouble = 6,
  kString = 7,
  kByteList = 8,
  kInt32List = 9,
  kInt64List = 10,
  kDoubleList = 11,
  kList = 12,
  kMap = 13,
  kFloatList = 14,
};

void WriteType(WireType type, ByteStreamWriter* stream) { stream->WriteByte(static_cast<uint8_t>(type)); }

// Whether `count` elements of at least `min_size` bytes each still fit in the
// input, next to what the containers open right now have promised for their
// elements not yet started. Without that joint check, nested containers could
// each claim the same bytes again. A reader that cannot tell how much is left
// gets its counts trusted, and a count of 0 always fits: it claims no bytes.
// When the count does not fit, reports the read that cannot succeed and
// returns false: nothing more is read for the value.
bool CountFits(ByteStreamReader* stream, size_t count, uint64_t min_size) {
  const std::optional<size_t> remaining = stream->RemainingBytes();
  if (!remaining || count == 0) {
    return true;
  }
  // 64 bits hold any count the size field can carry (below 2^32) times 8.
  const uint64_t needed = stream->decode_limits().promised_bytes + static_cast<uint64_t>(count) * min_size;
  if (needed <= *remaining) {
    return true;
  }
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
  return false;
}

// Accounts for one list or map while its elements are read: its depth, and
// one byte per element (two per map entry) that later counts must leave room
// for. Everything still promised is released when the container closes, also
// when a nested read throws.
class OpenContainer {
 public:
  OpenContainer(DecodeLimits& limits, uint64_t promised_bytes)
      : limits_(limits), promised_bytes_(promised_bytes) {
    ++limits_.depth;
    limits_.promised_bytes += promised_bytes_;
  }
  ~OpenContainer() {
    limits_.promised_bytes -= promised_bytes_;
    --limits_.depth;
  }
  OpenContainer(const OpenContainer&) = delete;
  OpenContainer& operator=(const OpenContainer&) = delete;

  // A list element, map key or map value starts: from here on its own reads
  // account for its bytes.
  void StartElement() {
    if (promised_bytes_ > 0) {
      --promised_bytes_;
      --limits_.promised_bytes;
    }
  }

 private:
  DecodeLimits& limits_;
  uint64_t promised_bytes_;
};

// The elements of a typed list whose size is written already. An empty list
// gets no padding; the reader skips padding all the same, so an empty typed
// list written off alignment and followed by more values does not read back
// as written.
template <typename T>
void WriteTypedListElements(const std::vector<T>& list, ByteStreamWriter* stream) {
  if (list.empty()) {
    return;
  }
  stream->WriteAlignment(sizeof(T));
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(list.data()), list.size() * sizeof(T));
}

template <typename T>
EncodableValue ReadTypedList(size_t count, ByteStreamReader* stream) {
  // Padding is skipped even before an empty list (see WriteTypedListElements).
  stream->ReadAlignment(sizeof(T));
  if (!CountFits(stream, count, sizeof(T))) {
    return EncodableValue();
  }
  std::vector<T> list(count);
  stream->ReadBytes(reinterpret_cast<uint8_t*>(list.data()), count * sizeof(T));
  return EncodableValue(std::move(list));
}

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;

StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const {
  if (value.valueless_by_exception()) {
    WriteType(WireType::kNull, stream);
    return;
  }
  switch (value.index()) {
    case 0:
      WriteType(WireType::kNull, stream);
      return;
    case 1:
      WriteType(std::get<bool>(value) ? WireType::kTrue : WireType::kFalse, stream);
      return;
    case 2:
      WriteType(WireType::kInt32, stream);
      stream->WriteInt32(std::get<int32_t>(value));
      return;
    case 3:
      WriteType(WireType::kInt64, stream);
      stream->WriteInt64(std::get<int64_t>(value));
      return;
    case 4:
      WriteType(WireType::kDouble, stream);
      stream->WriteAlignment(8);
      stream->WriteDouble(std::get<double>(value));
      return;
    case 5: {
      const auto& text = std::get<std::string>(value);
      WriteType(WireType::kString, stream);
      WriteSize(text.size(), stream);
      if (!text.empty()) {
        stream->WriteBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      }
      return;
    }
    case 6: {
      const auto& bytes = std::get<std::vector<uint8_t>>(value);
      WriteType(WireType::kByteList, stream);
      WriteSize(bytes.size(), stream);
      if (!bytes.empty()) {
        stream->WriteBytes(bytes.data(), bytes.size());
      }
      return;
    }
    case 7: {
      const auto& list = std::get<std::vector<int32_t>>(value);
      WriteType(WireType::kInt32List, stream);
      WriteSize(list.size(), stream);
      WriteTypedListElements(list, stream);
      return;
    }
    case 8: {
      const auto& list = std::get<std::vector<int64_t>>(value);
      WriteType(WireType::kInt64List, stream);
      WriteSize(list.size(), stream);
      WriteTypedListElements(list, stream);
      return;
    }
    case 9: {
      const auto& list = std::get<std::vector<double>>(value);
      WriteType(WireType::kDoubleList, stream);
      WriteSize(list.size(), stream);
      WriteTypedListElements(list, stream);
      return;
    }
    case 10: {
      const auto& list = std::get<EncodableList>(value);
      WriteType(WireType::kList, stream);
      WriteSize(list.size(), stream);
      for (const EncodableValue& element : list) {
        WriteValue(element, stream);
      }
      return;
    }
    case 11: {
      const auto& map = std::get<EncodableMap>(value);
      WriteType(WireType::kMap, stream);
      WriteSize(map.size(), stream);
      for (const auto& [key, entry_value] : map) {
        WriteValue(key, stream);
        WriteValue(entry_value, stream);
      }
      return;
    }
    case 12:
      WriteType(WireType::kNull, stream);
      std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
                   "Custom types require codec extensions."
                << std::endl;
      return;
    case 13: {
      const auto& list = std::get<std::vector<float>>(value);
      WriteType(WireType::kFloatList, stream);
      WriteSize(list.size(), stream);
      WriteTypedListElements(list, stream);
      return;
    }
    default:
      WriteType(WireType::kNull, stream);
      return;
  }
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  // Once a message nested too deeply, whatever is left of it reads as null
  // without touching the stream.
  if (stream->decode_limits().too_deep) {
    return EncodableValue();
  }
  const uint8_t type = stream->ReadByte();
  return ReadValueOfType(type, stream);
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type, ByteStreamReader* stream) const {
  DecodeLimits& limits = stream->decode_limits();
  if (limits.too_deep) {
    return EncodableValue();
  }
  switch (static_cast<WireType>(type)) {
    case WireType::kNull:
      return EncodableValue();
    case WireType::kTrue:
      return EncodableValue(true);
    case WireType::kFalse:
      return EncodableValue(false);
    case WireType::kInt32:
      return EncodableValue(stream->ReadInt32());
    case WireType::kInt64:
      return EncodableValue(stream->ReadInt64());
    case WireType::kDouble:
      stream->ReadAlignment(8);
      return EncodableValue(stream->ReadDouble());
    case WireType::kLargeInt:
    case WireType::kString: {
      const size_t size = ReadSize(stream);
      if (!CountFits(stream, size, 1)) {
        return EncodableValue();
      }
      std::string text(size, '\0');
      stream->ReadBytes(reinterpret_cast<uint8_t*>(text.data()), size);
      return EncodableValue(std::move(text));
    }
    case WireType::kByteList: {
      const size_t size = ReadSize(stream);
      if (!CountFits(stream, size, 1)) {
        return EncodableValue();
      }
      return EncodableValue(stream->ReadByteVector(size));
    }
    case WireType::kInt32List:
      return ReadTypedList<int32_t>(ReadSize(stream), stream);
    case WireType::kInt64List:
      return ReadTypedList<int64_t>(ReadSize(stream), stream);
    case WireType::kDoubleList:
      return ReadTypedList<double>(ReadSize(stream), stream);
    case WireType::kFloatList:
      return ReadTypedList<float>(ReadSize(stream), stream);
    case WireType::kList:
    case WireType::kMap:
      break;
    default:
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: " << static_cast<int>(type)
                << std::endl;
      return EncodableValue();
  }

  // A list or a map. Each level of nesting costs stack, so hostile input
  // must not be able to nest without bound.
  if (limits.depth >= DecodeLimits::kMaxDepth) {
    limits.too_deep = true;
    std::cerr
        << "Message nested too deeply in StandardCodecSerializer::ReadValueOfType; the rest reads as null"
        << std::endl;
    return EncodableValue();
  }
  const size_t count = ReadSize(stream);
  if (type == static_cast<uint8_t>(WireType::kList)) {
    // Every element takes at least its type byte.
    if (!CountFits(stream, count, 1)) {
      return EncodableValue();
    }
    OpenContainer open(limits, count);
    EncodableList list;
    list.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      open.StartElement();
      list.push_back(ReadValue(stream));
    }
    return EncodableValue(std::move(list));
  }

  // Every entry takes at least the type bytes of its key and its value.
  if (!CountFits(stream, count, 2)) {
    return EncodableValue();
  }
  OpenContainer open(limits, static_cast<uint64_t>(count) * 2);
  EncodableMap map;
  for (size_t i = 0; i < count; ++i) {
    open.StartElement();
    EncodableValue key = ReadValue(stream);
    open.StartElement();
    EncodableValue value = ReadValue(stream);
    // The first occurrence of a key wins: emplace_hint drops the new entry
    // when an equivalent key is present. Writers put the entries in key
    // order, so the end is where each new key belongs: with that hint a
    // well-formed map costs two comparisons per entry instead of a search,
    // and an entry out of order still lands where it belongs.
    map.emplace_hint(map.end(), std::move(key), std::move(value));
  }
  return EncodableValue(std::move(map));
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  const uint8_t first = stream->ReadByte();
  if (first < 254) {
    return first;
  }
  if (first == 254) {
    uint16_t size = 0;
    stream->ReadBytes(reinterpret_cast<uint8_t*>(&size), sizeof(size));
    return size;
  }
  uint32_t size = 0;
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&size), sizeof(size));
  return size;
}

void StandardCodecSerializer::WriteSize(size_t size, ByteStreamWriter* stream) const {
  if (size < 254) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->WriteByte(254);
    const uint16_t value = static_cast<uint16_t>(size);
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
  } else {
    stream->WriteByte(255);
    const uint32_t value = static_cast<uint32_t>(size);
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(value));
  }
}

}  // namespace flutter
