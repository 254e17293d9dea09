// The window's share of the message path on Windows, measured on the real
// Win32 window (under Wine here): a repaint request while one is pending,
// RefreshControls writing the bars and boxes, one connected tick.
// Prints nanoseconds per call; not a test.
#include <windows.h>

#include <cstdio>

#include "joystick/Repaint.h"
#include "joystick/ControlState.h"
#include "ui/ControlDisplay.h"
#include "ui/MainForm_win32.h"
#include "ui/Supervisor.h"

namespace {

double Now() {
  LARGE_INTEGER count, frequency;
  ::QueryPerformanceCounter(&count);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename F>
double NanosecondsPerCall(long calls, F f) {
  const double start = Now();
  for (long i = 0; i < calls; ++i) f(i);
  return (Now() - start) * 1e9 / static_cast<double>(calls);
}

}  // namespace

int main() {
  using namespace wendrix;
  PrepareMainForm();
  MainFormSetup setup;
  setup.serverBase = "http://127.0.0.1:9";
  setup.startServices = [] {};
  auto* form = new TMainForm(setup);
  ::ShowWindow(form->Handle(), SW_SHOW);

  RequestRepaint();
  const double request = NanosecondsPerCall(10000000, [](long) { RequestRepaint(); });
  TakeRepaintRequest();

  ReportStore(gState.report.axisY, 20480);
  const double unchanged = NanosecondsPerCall(20000, [&](long) { RefreshControls(*form); });
  // The steering bar moves on every paint, as while a player steers.
  const double steering = NanosecondsPerCall(20000, [&](long i) {
    ReportStore(gState.report.axisX, static_cast<int32_t>((i * 328) % 32768));
    RefreshControls(*form);
  });
  // Everything changes on every paint.
  const double everything = NanosecondsPerCall(5000, [&](long i) {
    ReportStore(gState.report.axisX, static_cast<int32_t>((i * 328) % 32768));
    ReportStore(gState.report.axisY, static_cast<int32_t>(32768 - (i * 328) % 32768));
    gState.displayButtons.store(static_cast<uint8_t>(i), kRelaxed);
    RefreshControls(*form);
  });

  gState.connected.store(true, kRelaxed);
  gState.wifiActive.store(true, kRelaxed);
  const double tick = NanosecondsPerCall(1000000, [&](long) {
    gState.wifiDataSeen.store(true, kRelaxed);
    SuperviseConnections(*form);
  });

  std::printf("repaint request while one is pending: %.1f ns\n", request);
  std::printf("RefreshControls, nothing changed: %.0f ns\n", unchanged);
  std::printf("RefreshControls, steering bar moved: %.0f ns\n", steering);
  std::printf("RefreshControls, both bars and all boxes changed: %.0f ns\n", everything);
  std::printf("connected supervisor tick: %.1f ns\n", tick);
  std::fflush(stdout);
  std::_Exit(0);
}
