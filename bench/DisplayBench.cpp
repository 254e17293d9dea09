// The window's share of the message path: the repaint request a decoder
// makes per message, the paint's refresh, and one supervisor tick.
#include <benchmark/benchmark.h>

#include <string_view>

#include "FakeDriver.h"
#include "joystick/ControlState.h"
#include "joystick/Repaint.h"
#include "ui/ControlDisplay.h"
#include "ui/Supervisor.h"

namespace wendrix {
namespace {

int gHookCalls = 0;
void CountHook(void*) { ++gHookCalls; }

// A request while one is pending: what a flood of messages costs.
void BM_RepaintRequestCoalesced(benchmark::State& state) {
  InstallRepaintHook(&CountHook, nullptr);
  RequestRepaint();
  for (auto _ : state) RequestRepaint();
  TakeRepaintRequest();
  InstallRepaintHook(nullptr, nullptr);
  state.counters["hook_calls"] = gHookCalls;
}
BENCHMARK(BM_RepaintRequestCoalesced);

class NullView : public ControlDisplayView {
 public:
  void SetSteeringBar(int p) override { benchmark::DoNotOptimize(p); }
  void SetPedalsBar(int p) override { benchmark::DoNotOptimize(p); }
  void SetFeedbackForceBar(int p) override { benchmark::DoNotOptimize(p); }
  void SetButtonBoxChecked(int k, bool c) override {
    benchmark::DoNotOptimize(k);
    benchmark::DoNotOptimize(c);
  }
};

void BM_RefreshControls(benchmark::State& state) {
  test::ResetProcessState();
  ReportStore(gState.report.axisX, 12288);
  ReportStore(gState.report.axisY, 20480);
  gState.displayButtons.store(0x5A, kRelaxed);
  NullView view;
  for (auto _ : state) RefreshControls(view);
}
BENCHMARK(BM_RefreshControls);

class NullWindow : public SupervisedWindow {
 public:
  void SetButtonBoxesEnabled(bool) override {}
  void ShowStatusControls(const StatusControls&) override {}
  void NavigateToPage(std::string_view) override {}
  void RepaintMainWindow() override {}
  void Announce() override {}
};

// The steady state while a phone sends over Wi-Fi.
void BM_SupervisorTickConnected(benchmark::State& state) {
  test::ResetProcessState();
  NullWindow window;
  for (auto _ : state) {
    gState.wifiDataSeen.store(true, kRelaxed);
    SuperviseConnections(window);
  }
}
BENCHMARK(BM_SupervisorTickConnected);

}  // namespace
}  // namespace wendrix

BENCHMARK_MAIN();
