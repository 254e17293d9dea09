// wendrix.exe as a player starts it, read from outside through its
// controls: the refusal without a usable driver, the window at start, a
// phone on loopback driving it, and the end when the window is closed.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <richedit.h>
#include <uxtheme.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "WindowTestSupport_win32.h"
#include "protocol/Protocol.h"
#include "ui/MainFormIds_win32.h"

namespace wendrix {
namespace {

namespace ids = form_ids;
namespace fs = std::filesystem;
using test::FindControl;
using test::WindowText;

// Unix paths of the build, reached through drive Z:.
std::string Z(const char* unixPath) { return std::string("Z:") + unixPath; }

class RunningProgram {
 public:
  // Starts wendrix.exe from a copy in dir; the environment adds vars.
  RunningProgram(const fs::path& dir, const std::vector<std::pair<std::string, std::string>>& vars) {
    const fs::path exe = dir / "wendrix.exe";
    for (const auto& [name, value] : vars) ::SetEnvironmentVariableA(name.c_str(), value.c_str());
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::string command = "\"" + exe.string() + "\"";
    started_ = ::CreateProcessA(exe.string().c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                dir.string().c_str(), &si, &pi_);
    for (const auto& [name, value] : vars) ::SetEnvironmentVariableA(name.c_str(), nullptr);
  }
  ~RunningProgram() {
    if (!started_) return;
    if (::WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(pi_.hProcess, 99);
    ::CloseHandle(pi_.hProcess);
    ::CloseHandle(pi_.hThread);
  }

  bool Started() const { return started_; }
  HANDLE Process() const { return pi_.hProcess; }

  // A top-level window of the program with this class, waiting for it.
  HWND WaitForWindow(const wchar_t* cls, int timeoutMs = 30000) const {
    struct Search {
      DWORD pid;
      const wchar_t* cls;
      HWND found;
    } search{pi_.dwProcessId, cls, nullptr};
    test::PumpUntil(
        [&] {
          ::EnumWindows(
              [](HWND w, LPARAM p) -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                DWORD pid = 0;
                ::GetWindowThreadProcessId(w, &pid);
                wchar_t name[64] = {};
                ::GetClassNameW(w, name, 64);
                if (pid != s->pid || wcscmp(name, s->cls) != 0 || !::IsWindowVisible(w)) return TRUE;
                s->found = w;
                return FALSE;
              },
              reinterpret_cast<LPARAM>(&search));
          return search.found != nullptr || Exited();
        },
        timeoutMs);
    return search.found;
  }

  bool Exited() const { return ::WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0; }

  // The exit code once it has ended, or -1 when it is still running.
  long ExitCodeAfter(int timeoutMs) const {
    if (::WaitForSingleObject(pi_.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<long>(code);
  }

 private:
  PROCESS_INFORMATION pi_{};
  bool started_ = false;
};

class WindowProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(Z(SCRATCH_DIR)) / info->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(Z(PROGRAM_PATH), dir_ / "wendrix.exe");
    log_ = dir_ / "driver.log";
  }

  void AddDriver(const fs::path& where) {
    fs::create_directories(where);
    fs::copy_file(Z(FAKE_LIBRARY_PATH), where / "vJoyInterface.dll", fs::copy_options::overwrite_existing);
  }

  std::vector<std::string> DriverCalls() const {
    std::ifstream file(log_);
    std::vector<std::string> calls;
    for (std::string line; std::getline(file, line);) calls.push_back(line.substr(0, line.find(' ')));
    return calls;
  }

  // The message box of a refusing program: its exact text, a single OK
  // button and no icon, no main window; OK ends it with exit code 0.
  void ExpectRefusal(RunningProgram& program) {
    ASSERT_TRUE(program.Started());
    HWND box = program.WaitForWindow(L"#32770");
    ASSERT_NE(box, nullptr) << "no message box";
    std::string expected =
        "\"vJoy device driver\" component is missing.\r\nPlease reinstall \"Wendrix\" (website: ";
    expected += kWebSite;
    expected += ") and allow to install \"vJoy device driver\" in process.";
    std::vector<std::string> texts;
    int buttons = 0;
    bool icon = false;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (!::IsWindowVisible(child)) continue;
      wchar_t cls[32] = {};
      ::GetClassNameW(child, cls, 32);
      const LONG style = ::GetWindowLongW(child, GWL_STYLE);
      if (_wcsicmp(cls, L"Button") == 0) ++buttons;
      if (_wcsicmp(cls, L"Static") == 0) {
        // The system's box keeps an empty icon control when it shows none.
        if ((style & SS_TYPEMASK) == SS_ICON)
          icon = icon || ::SendMessageW(child, STM_GETICON, 0, 0) != 0;
        else
          texts.push_back(WindowText(child));
      }
    }
    EXPECT_EQ(WindowText(box), "Wendrix");
    EXPECT_EQ(buttons, 1);
    EXPECT_FALSE(icon) << "the message box shows an icon";
    EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << texts.size();
    EXPECT_EQ(program.WaitForWindow(ids::kWindowClass, 0), nullptr) << "a main window opened";
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(program.ExitCodeAfter(15000), 0);
  }

  fs::path dir_;
  fs::path log_;
};

TEST_F(WindowProbeTest, RefusesWithoutTheDriverLibrary) {
  RunningProgram program(dir_, {});
  ExpectRefusal(program);
}

TEST_F(WindowProbeTest, RefusesWhenTheDriverIsDisabledAfterAskingOnlyWhetherItIsEnabled) {
  AddDriver(dir_);
  RunningProgram program(dir_, {{"FAKE_VJOY_ENABLED", "0"}, {"FAKE_VJOY_LOG", log_.string()}});
  ExpectRefusal(program);
  EXPECT_EQ(DriverCalls(), std::vector<std::string>{"vJoyEnabled"});
}

TEST_F(WindowProbeTest, IgnoresALibraryElsewhereOnThePath) {
  const fs::path elsewhere = dir_ / "elsewhere";
  AddDriver(elsewhere);
  char path[4096] = {};
  ::GetEnvironmentVariableA("PATH", path, sizeof path);
  RunningProgram program(dir_, {{"PATH", elsewhere.string() + ";" + path}, {"FAKE_VJOY_LOG", log_.string()}});
  ExpectRefusal(program);
  EXPECT_TRUE(DriverCalls().empty());
}

// Colour and bold of a status line's text, read in the program's memory.
CHARFORMAT2W ReadCharFormat(HANDLE process, HWND line) {
  CHARFORMAT2W format{};
  format.cbSize = sizeof format;
  void* remote = ::VirtualAllocEx(process, nullptr, sizeof format, MEM_COMMIT, PAGE_READWRITE);
  if (!remote) return format;
  ::WriteProcessMemory(process, remote, &format, sizeof format, nullptr);
  // The text without the closing paragraph mark, which keeps the default format.
  ::SendMessageW(line, EM_SETSEL, 0, ::GetWindowTextLengthW(line));
  ::SendMessageW(line, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(remote));
  ::ReadProcessMemory(process, remote, &format, sizeof format, nullptr);
  ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return format;
}

struct Line {
  int id;
  const char* text;
  COLORREF colour;
  bool visible;
};
constexpr Line kLines[] = {
    {ids::redt1, "Wi-Fi:", RGB(0, 0, 0), true},
    {ids::connectionTcpWaiting, " disconnected", RGB(160, 70, 50), true},
    {ids::connectionTcpConnected, " connected", RGB(0, 128, 128), false},
    {ids::connectionTcpWaitingGray, " not used", RGB(128, 128, 128), false},
    {ids::redt3, "Bluetooth:", RGB(0, 0, 0), true},
    {ids::connectionBluetoothWaiting, " disconnected", RGB(160, 70, 50), true},
    {ids::connectionBluetoothConnected, " connected", RGB(0, 128, 128), false},
    {ids::connectionBluetoothWaitingGray, " not used", RGB(128, 128, 128), false},
};

// A phone on loopback: UDP datagrams and a framed TCP stream.
class Phone {
 public:
  Phone() {
    WSADATA data;
    ::WSAStartup(0x0101, &data);
    to_.sin_family = AF_INET;
    to_.sin_port = ::htons(kLinkPort);
    to_.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    udp_ = ::socket(AF_INET, SOCK_DGRAM, 0);
  }
  ~Phone() {
    ::closesocket(udp_);
    if (tcp_ != INVALID_SOCKET) ::closesocket(tcp_);
  }
  void Datagram(uint16_t steering, uint16_t pedals) {
    const auto d = BuildControlDatagram({++sequence_, steering, pedals, 0});
    ::sendto(udp_, reinterpret_cast<const char*>(d.data()), static_cast<int>(d.size()), 0,
             reinterpret_cast<sockaddr*>(&to_), sizeof to_);
  }
  // Connects and reads the greeting.
  bool Connect() {
    tcp_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(tcp_, reinterpret_cast<sockaddr*>(&to_), sizeof to_) != 0) return false;
    char greeting[2] = {};
    return ::recv(tcp_, greeting, 2, 0) == 2 && greeting[0] == 0 && greeting[1] == 2;
  }
  // After the greeting nothing more arrives: the stream just ends.
  bool StreamEndsWithoutData() {
    DWORD timeoutMs = 10000;
    ::setsockopt(tcp_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    char byte;
    const int n = ::recv(tcp_, &byte, 1, 0);
    return n == 0 || (n < 0 && ::WSAGetLastError() != WSAETIMEDOUT);
  }
  void Framed(int32_t steering, int32_t pedals, uint8_t button1) {
    FramedControl control;
    control.steering = steering;
    control.pedals = pedals;
    control.sequence = ++sequence_;
    control.button1 = button1;
    const auto frame = BuildFrame(BuildFramedMessage(control));
    ::send(tcp_, reinterpret_cast<const char*>(frame.data()), static_cast<int>(frame.size()), 0);
  }

 private:
  sockaddr_in to_{};
  SOCKET udp_ = INVALID_SOCKET;
  SOCKET tcp_ = INVALID_SOCKET;
  uint16_t sequence_ = 100;
};

TEST_F(WindowProbeTest, WindowShowsItsComponentsFollowsAPhoneAndEndsAtOnceWhenClosed) {
  AddDriver(dir_);
  RunningProgram program(dir_, {{"FAKE_VJOY_LOG", log_.string()}});
  ASSERT_TRUE(program.Started());
  HWND form = program.WaitForWindow(ids::kWindowClass);
  ASSERT_NE(form, nullptr) << "no main window";
  auto control = [&](int id) { return FindControl(form, id); };
  auto pos = [&](int id) { return ::SendMessageW(control(id), PBM_GETPOS, 0, 0); };
  auto visible = [&](int id) { return ::IsWindowVisible(control(id)) != FALSE; };

  // At start.
  EXPECT_EQ(WindowText(form), "Wendrix");
  RECT client{};
  ::GetClientRect(form, &client);
  EXPECT_EQ(client.right, 474);
  EXPECT_EQ(WindowText(control(ids::grp1)), "Connection with smartphone ");
  EXPECT_EQ(WindowText(control(ids::Controls)), "Controls");
  EXPECT_EQ(WindowText(control(ids::Label6)), "Steering:");
  EXPECT_EQ(WindowText(control(ids::Label7)), "Pedals:");
  EXPECT_EQ(WindowText(control(ids::lbl3)), "Gear up:");
  EXPECT_EQ(WindowText(control(ids::lbl4)), "Gear down:");
  EXPECT_EQ(WindowText(control(ids::lbl5)), "Buttons:");
  for (const Line& line : kLines) {
    HWND edit = control(line.id);
    ASSERT_NE(edit, nullptr) << line.text;
    wchar_t cls[32] = {};
    ::GetClassNameW(edit, cls, 32);
    EXPECT_EQ(_wcsicmp(cls, L"RICHEDIT50W"), 0);
    EXPECT_EQ(WindowText(edit), line.text);
    EXPECT_EQ(visible(line.id), line.visible) << line.text;
    const CHARFORMAT2W format = ReadCharFormat(program.Process(), edit);
    EXPECT_TRUE(format.dwMask & CFM_COLOR);
    EXPECT_EQ(format.crTextColor, line.colour) << line.text;
    EXPECT_TRUE(format.dwEffects & CFE_BOLD) << line.text;
  }
  for (int k = 0; k < 8; ++k) {
    EXPECT_TRUE(visible(ids::chk1 + k));
    EXPECT_FALSE(::IsWindowEnabled(control(ids::chk1 + k))) << k;
    EXPECT_EQ(::SendMessageW(control(ids::chk1 + k), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  }
  EXPECT_TRUE(visible(ids::ProgressBar1));
  EXPECT_TRUE(visible(ids::ProgressBar2));
  EXPECT_FALSE(visible(ids::ProgressBarFeedbackForce));
  EXPECT_EQ(::SendMessageW(control(ids::ProgressBar1), PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_EQ(pos(ids::ProgressBar1), 0);
  EXPECT_EQ(pos(ids::ProgressBar2), 0);
  EXPECT_EQ(pos(ids::ProgressBarFeedbackForce), 0);
  EXPECT_TRUE(visible(ids::WebBrowser1));
  // The pages choose the engine's mode themselves: the program writes no
  // browser emulation value.
  DWORD emulation = 0, size = sizeof emulation;
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER,
                           L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\"
                           L"FEATURE_BROWSER_EMULATION",
                           L"wendrix.exe", RRF_RT_REG_DWORD, nullptr, &emulation, &size),
            ERROR_FILE_NOT_FOUND);
  // The bars are drawn without the theme's animation; the boxes keep the theme.
  EXPECT_EQ(::GetWindowTheme(control(ids::ProgressBar1)), nullptr);
  EXPECT_EQ(::GetWindowTheme(control(ids::ProgressBar2)), nullptr);
  EXPECT_NE(::GetWindowTheme(control(ids::chk1)), nullptr) << "no theme in this prefix: nothing to compare";

  // UDP moves the bars; the Wi-Fi line shows " connected".
  Phone phone;
  ASSERT_TRUE(test::PumpUntil([&] {
    phone.Datagram(16384, 0);
    return pos(ids::ProgressBar1) == 50 && pos(ids::ProgressBar2) == 100 &&
           visible(ids::connectionTcpConnected);
  })) << pos(ids::ProgressBar1)
      << " " << pos(ids::ProgressBar2);
  EXPECT_TRUE(visible(ids::connectionBluetoothWaitingGray));
  EXPECT_FALSE(visible(ids::connectionTcpWaiting));
  EXPECT_TRUE(::IsWindowEnabled(control(ids::chk1)));
  const auto calls = DriverCalls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "UpdateVJD"), calls.end());

  // Silence: back to idle.
  ASSERT_TRUE(test::PumpUntil([&] {
    return visible(ids::connectionTcpWaiting) && pos(ids::ProgressBar1) == 0 && pos(ids::ProgressBar2) == 0;
  })) << pos(ids::ProgressBar1)
      << " " << pos(ids::ProgressBar2);
  EXPECT_FALSE(::IsWindowEnabled(control(ids::chk1)));

  // A framed stream with gear up held.
  ASSERT_TRUE(phone.Connect());
  ASSERT_TRUE(test::PumpUntil([&] {
    phone.Framed(-16384, 0, 1);
    ::Sleep(50);
    return ::SendMessageW(control(ids::chk1), BM_GETCHECK, 0, 0) == BST_CHECKED &&
           pos(ids::ProgressBar1) == 0 && visible(ids::connectionTcpConnected);
  }));
  EXPECT_EQ(pos(ids::ProgressBar2), 50);

  // Closing while the phone is connected ends the process at once: the
  // phone gets nothing more, the driver no neutral report and no release.
  const size_t callsBeforeClose = DriverCalls().size();
  ::PostMessageW(form, WM_CLOSE, 0, 0);
  EXPECT_EQ(program.ExitCodeAfter(10000), 0);
  EXPECT_TRUE(phone.StreamEndsWithoutData());
  const auto after = DriverCalls();
  EXPECT_EQ(std::count(after.begin(), after.end(), "RelinquishVJD"), 0);
  EXPECT_LE(after.size(), callsBeforeClose + 1) << "reports pushed after the window closed";
}

}  // namespace
}  // namespace wendrix
