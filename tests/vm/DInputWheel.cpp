// What a Windows game under Wine or Proton reads from the wheel, through
// DirectInput 8: the game controllers, the wheel's objects and
// capabilities, then its state on every change, one line each:
//
//   controller "NAME" type 0x.. subtype 0x.. vid 0x.... pid 0x....
//   caps axes N buttons N povs N
//   object "NAME" axis|button|pov|other x|y|z|rx|ry|rz|slider|button|other offset N
//   hid x N y N buttons B1B2...B8        (the HID device's current input
//                                         report, asked for once; axes in
//                                         the device's logical units)
//   state x N y N buttons B1B2...B8      (B is 1 for pressed, 0 for released)
//
// and "error ..." for a failed call (exit status 1). It reads until its
// standard input ends or the time limit (argument 1, seconds, default 60)
// has passed. Built with mingw-w64 for the real-kernel tests (tests/vm).
#define DIRECTINPUT_VERSION 0x0800
#include <windows.h>
#include <dinput.h>
// These two headers lack C linkage of their own.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kWheelName = "Wendrix Virtual Wheel";

struct Found {
  GUID instance{};
  int wheels = 0;
};

void Fail(const char* what, HRESULT hr) {
  std::printf("error %s 0x%08lx\n", what, static_cast<unsigned long>(hr));
  std::fflush(stdout);
  std::exit(1);
}

BOOL CALLBACK OnController(const DIDEVICEINSTANCEA* device, void* context) {
  const DWORD vidpid = device->guidProduct.Data1;
  std::printf("controller \"%s\" type 0x%02lx subtype 0x%02lx vid 0x%04lx pid 0x%04lx\n",
              device->tszInstanceName, static_cast<unsigned long>(GET_DIDEVICE_TYPE(device->dwDevType)),
              static_cast<unsigned long>(GET_DIDEVICE_SUBTYPE(device->dwDevType)), vidpid & 0xFFFF,
              vidpid >> 16);
  auto* found = static_cast<Found*>(context);
  if (std::strcmp(device->tszInstanceName, kWheelName) == 0) {
    found->instance = device->guidInstance;
    ++found->wheels;
  }
  return DIENUM_CONTINUE;
}

const char* AxisName(const GUID& type) {
  if (IsEqualGUID(type, GUID_XAxis)) return "x";
  if (IsEqualGUID(type, GUID_YAxis)) return "y";
  if (IsEqualGUID(type, GUID_ZAxis)) return "z";
  if (IsEqualGUID(type, GUID_RxAxis)) return "rx";
  if (IsEqualGUID(type, GUID_RyAxis)) return "ry";
  if (IsEqualGUID(type, GUID_RzAxis)) return "rz";
  if (IsEqualGUID(type, GUID_Slider)) return "slider";
  if (IsEqualGUID(type, GUID_Button)) return "button";
  return "other";
}

BOOL CALLBACK OnObject(const DIDEVICEOBJECTINSTANCEA* object, void*) {
  const DWORD type = object->dwType;
  const char* kind = (type & DIDFT_AXIS)     ? "axis"
                     : (type & DIDFT_BUTTON) ? "button"
                     : (type & DIDFT_POV)    ? "pov"
                                             : "other";
  std::printf("object \"%s\" %s %s offset %lu\n", object->tszName, kind, AxisName(object->guidType),
              object->dwOfs);
  return DIENUM_CONTINUE;
}

// Set when standard input ends.
volatile LONG gInputEnded = 0;

DWORD WINAPI WatchInput(void*) {
  char buffer[64];
  DWORD n = 0;
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0) {
  }
  InterlockedExchange(&gInputEnded, 1);
  return 0;
}

void PrintButtons(const char* prefix, const bool (&pressed)[8], const char* suffix) {
  char buttons[9] = {};
  for (int i = 0; i < 8; ++i) buttons[i] = pressed[i] ? '1' : '0';
  std::printf("%s%s%s\n", prefix, buttons, suffix);
  std::fflush(stdout);
}

// A HID value read as the signed number it is when the logical range
// goes below zero.
long Signed(ULONG value, const HIDP_VALUE_CAPS& caps) {
  if (caps.LogicalMin >= 0 || caps.BitSize == 0 || caps.BitSize >= 32) return static_cast<LONG>(value);
  const ULONG sign = 1ul << (caps.BitSize - 1);
  return static_cast<long>(value ^ sign) - static_cast<long>(sign);
}

// What the HID device under DirectInput holds now, asked for with
// HidD_GetInputReport, as a program can do when it opens the device.
void PrintHidState(IDirectInputDevice8A* wheel) {
  DIPROPGUIDANDPATH where{};
  where.diph.dwSize = sizeof where;
  where.diph.dwHeaderSize = sizeof where.diph;
  where.diph.dwHow = DIPH_DEVICE;
  HRESULT hr = wheel->GetProperty(DIPROP_GUIDANDPATH, &where.diph);
  if (FAILED(hr)) return (void)std::printf("hid error GetProperty 0x%08lx\n", static_cast<unsigned long>(hr));
  const HANDLE device = CreateFileW(where.wszPath, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return (void)std::printf("hid error CreateFile %lu\n", GetLastError());
  PHIDP_PREPARSED_DATA parsed = nullptr;
  HIDP_CAPS caps{};
  HIDP_VALUE_CAPS x{}, y{};
  USHORT xCount = 1, yCount = 1;
  char report[256] = {};
  ULONG xValue = 0, yValue = 0, usageCount = 8;
  USAGE usages[8] = {};
  if (!HidD_GetPreparsedData(device, &parsed) || HidP_GetCaps(parsed, &caps) != HIDP_STATUS_SUCCESS ||
      caps.InputReportByteLength > sizeof report ||
      HidP_GetSpecificValueCaps(HidP_Input, HID_USAGE_PAGE_GENERIC, 0, HID_USAGE_GENERIC_X, &x, &xCount,
                                parsed) != HIDP_STATUS_SUCCESS ||
      HidP_GetSpecificValueCaps(HidP_Input, HID_USAGE_PAGE_GENERIC, 0, HID_USAGE_GENERIC_Y, &y, &yCount,
                                parsed) != HIDP_STATUS_SUCCESS) {
    std::printf("hid error caps\n");
  } else if (report[0] = static_cast<char>(x.ReportID);
             !HidD_GetInputReport(device, report, caps.InputReportByteLength)) {
    std::printf("hid error HidD_GetInputReport %lu\n", GetLastError());
  } else {
    const ULONG length = caps.InputReportByteLength;
    HidP_GetUsageValue(HidP_Input, HID_USAGE_PAGE_GENERIC, 0, HID_USAGE_GENERIC_X, &xValue, parsed, report,
                       length);
    HidP_GetUsageValue(HidP_Input, HID_USAGE_PAGE_GENERIC, 0, HID_USAGE_GENERIC_Y, &yValue, parsed, report,
                       length);
    HidP_GetUsages(HidP_Input, HID_USAGE_PAGE_BUTTON, 0, usages, &usageCount, parsed, report, length);
    bool pressed[8] = {};
    for (ULONG i = 0; i < usageCount; ++i)
      if (usages[i] >= 1 && usages[i] <= 8) pressed[usages[i] - 1] = true;
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "hid x %ld y %ld buttons ", Signed(xValue, x), Signed(yValue, y));
    PrintButtons(prefix, pressed, "");
  }
  if (parsed) HidD_FreePreparsedData(parsed);
  CloseHandle(device);
  std::fflush(stdout);
}

void PrintState(const DIJOYSTATE& s) {
  bool pressed[8] = {};
  for (int i = 0; i < 8; ++i) pressed[i] = (s.rgbButtons[i] & 0x80) != 0;
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "state x %ld y %ld buttons ", s.lX, s.lY);
  PrintButtons(prefix, pressed, "");
}

}  // namespace

int main(int argc, char** argv) {
  const DWORD limitMs = static_cast<DWORD>((argc > 1 ? std::atoi(argv[1]) : 60) * 1000);
  IDirectInput8A* input = nullptr;
  HRESULT hr = DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A,
                                  reinterpret_cast<void**>(&input), nullptr);
  if (FAILED(hr)) Fail("DirectInput8Create", hr);

  Found found;
  hr = input->EnumDevices(DI8DEVCLASS_GAMECTRL, OnController, &found, DIEDFL_ATTACHEDONLY);
  if (FAILED(hr)) Fail("EnumDevices", hr);
  std::fflush(stdout);
  if (found.wheels != 1) Fail("wheels found", static_cast<HRESULT>(found.wheels));

  IDirectInputDevice8A* wheel = nullptr;
  hr = input->CreateDevice(found.instance, &wheel, nullptr);
  if (FAILED(hr)) Fail("CreateDevice", hr);
  DIDEVCAPS caps{};
  caps.dwSize = sizeof caps;
  hr = wheel->GetCapabilities(&caps);
  if (FAILED(hr)) Fail("GetCapabilities", hr);
  std::printf("caps axes %lu buttons %lu povs %lu\n", caps.dwAxes, caps.dwButtons, caps.dwPOVs);
  hr = wheel->EnumObjects(OnObject, nullptr, DIDFT_ALL);
  if (FAILED(hr)) Fail("EnumObjects", hr);
  std::fflush(stdout);

  hr = wheel->SetDataFormat(&c_dfDIJoystick);
  if (FAILED(hr)) Fail("SetDataFormat", hr);
  hr = wheel->Acquire();
  if (FAILED(hr)) Fail("Acquire", hr);
  PrintHidState(wheel);

  CloseHandle(CreateThread(nullptr, 0, WatchInput, nullptr, 0, nullptr));
  DIJOYSTATE last{};
  bool printed = false;
  const DWORD start = GetTickCount();
  while (!gInputEnded && GetTickCount() - start < limitMs) {
    wheel->Poll();
    DIJOYSTATE now{};
    hr = wheel->GetDeviceState(sizeof now, &now);
    if (FAILED(hr)) Fail("GetDeviceState", hr);
    if (!printed || std::memcmp(&now, &last, sizeof now) != 0) {
      PrintState(now);
      last = now;
      printed = true;
    }
    Sleep(5);
  }
  wheel->Unacquire();
  wheel->Release();
  input->Release();
  return 0;
}
