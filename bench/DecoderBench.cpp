// One decoder call from receipt to driver push, against the fake driver
// (recording off) and the real clock. Run from the build's tests directory.
#include <benchmark/benchmark.h>

#include <vector>

#include "FakeDriver.h"
#include "decode/FramedDecoder.h"
#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "joystick/Repaint.h"
#include "protocol/Protocol.h"

namespace wendrix {
namespace {

void Prepare() {
  test::ResetProcessState();
  test::FakeDriver::Get().SetRecording(false);
}

// A run as a stream delivers it: rising sequence numbers, moving axes and
// a button that changes every tenth record.
std::vector<uint8_t> Run(size_t records) {
  std::vector<LegacyRecord> run;
  for (size_t i = 0; i < records; ++i) {
    const auto n = static_cast<uint16_t>(i + 1);
    run.push_back({n, static_cast<uint16_t>(16384 + i), 32768, static_cast<uint8_t>((i / 10) & 1)});
  }
  return BuildLegacyRecords(run);
}

void BM_LegacyRecords(benchmark::State& state) {
  Prepare();
  const auto records = static_cast<size_t>(state.range(0));
  const bool withButtons = state.range(1) != 0;
  const std::vector<uint8_t> run = Run(records);
  for (auto _ : state) {
    gLegacy.lastLegacySequence.store(0, kRelaxed);  // keep every record newer
    DecodeLegacyRecords(run.data(), run.data() + run.size(), withButtons);
    TakeRepaintRequest();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records));
}
BENCHMARK(BM_LegacyRecords)->ArgNames({"records", "buttons"})->Args({1, 1})->Args({142, 1})->Args({1, 0});

void BM_FramedMessage(benchmark::State& state) {
  Prepare();
  gState.sequenceCheck.store(true, kRelaxed);
  const auto length = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> message = BuildFramedMessage({1200, -3000, 0, 1, 0}, length);
  uint16_t sequence = 0;
  for (auto _ : state) {
    if (length >= kFramedSequenceLength) WriteBigEndian16(&message[kFramedSequenceOffset], ++sequence);
    DecodeFramedMessage(message.data(), static_cast<int32_t>(message.size()));
    TakeRepaintRequest();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FramedMessage)->ArgName("bytes")->Arg(22)->Arg(32);

}  // namespace
}  // namespace wendrix

BENCHMARK_MAIN();
