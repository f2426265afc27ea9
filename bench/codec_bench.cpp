// Encode and decode of three typical messages, next to memcpy of the same
// number of bytes in the same run: a "startTunnel" call with a 1 KiB
// configuration, a 1 MiB byte list, and a map of 1,000 string keys to 32-bit
// integers. Each reports bytes per second of encoded message.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "embedding/byte_buffer_streams.h"
#include "embedding/standard_codec_serializer.h"
#include "embedding/standard_method_codec.h"

namespace flutter {
namespace {

EncodableValue StartTunnelArguments() {
  std::string config;
  while (config.size() < 1024) {
    config += "[Interface]\nPrivateKey = cGxhY2Vob2xkZXIgcHJpdmF0ZSBrZXk=\nAddress = 10.0.0.2/32\n";
  }
  config.resize(1024);
  return EncodableValue(EncodableMap{{EncodableValue("networkId"), EncodableValue("office")},
                                     {EncodableValue("config"), EncodableValue(config)}});
}

EncodableValue MegabyteByteList() {
  std::vector<uint8_t> bytes(1 << 20);
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(i * 131);
  }
  return EncodableValue(std::move(bytes));
}

EncodableValue ThousandEntryMap() {
  EncodableMap map;
  for (int32_t i = 0; i < 1000; ++i) {
    map[EncodableValue("key" + std::to_string(i))] = EncodableValue(i);
  }
  return EncodableValue(std::move(map));
}

std::vector<uint8_t> EncodeValue(const EncodableValue& value) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

std::vector<uint8_t> EncodeStartTunnel() {
  return *StandardMethodCodec::GetInstance().EncodeMethodCall(
      MethodCall<EncodableValue>("startTunnel", std::make_unique<EncodableValue>(StartTunnelArguments())));
}

// The encoded message of each case, indexed by the benchmark argument.
const std::vector<uint8_t>& Encoded(int64_t which) {
  static const std::vector<std::vector<uint8_t>> messages = {
      EncodeStartTunnel(), EncodeValue(MegabyteByteList()), EncodeValue(ThousandEntryMap())};
  return messages.at(static_cast<size_t>(which));
}

void SetLabel(benchmark::State& state) {
  static const char* const kNames[] = {"startTunnel call", "1 MiB byte list", "1000-entry map"};
  state.SetLabel(kNames[state.range(0)]);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(Encoded(state.range(0)).size()));
}

void BM_Memcpy(benchmark::State& state) {
  const std::vector<uint8_t>& source = Encoded(state.range(0));
  std::vector<uint8_t> destination(source.size());
  for (auto _ : state) {
    std::memcpy(destination.data(), source.data(), source.size());
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  SetLabel(state);
}

void BM_Encode(benchmark::State& state) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const MethodCall<EncodableValue> call("startTunnel",
                                        std::make_unique<EncodableValue>(StartTunnelArguments()));
  const EncodableValue value = state.range(0) == 1 ? MegabyteByteList() : ThousandEntryMap();
  for (auto _ : state) {
    if (state.range(0) == 0) {
      benchmark::DoNotOptimize(codec.EncodeMethodCall(call));
    } else {
      benchmark::DoNotOptimize(EncodeValue(value));
    }
  }
  SetLabel(state);
}

void BM_Decode(benchmark::State& state) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance();
  const std::vector<uint8_t>& message = Encoded(state.range(0));
  for (auto _ : state) {
    if (state.range(0) == 0) {
      benchmark::DoNotOptimize(codec.DecodeMethodCall(message));
    } else {
      ByteBufferStreamReader reader(message.data(), message.size());
      benchmark::DoNotOptimize(serializer.ReadValue(&reader));
    }
  }
  SetLabel(state);
}

BENCHMARK(BM_Memcpy)->DenseRange(0, 2);
BENCHMARK(BM_Encode)->DenseRange(0, 2);
BENCHMARK(BM_Decode)->DenseRange(0, 2);

}  // namespace
}  // namespace flutter
