// Start-up on Windows: the probe (tests/app/StartupProbe.cpp) runs the
// real start-up from a folder of its own, with or without the fake
// vJoyInterface.dll beside it, and prints what the window toolkit would show.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/Startup.h"

namespace fs = std::filesystem;

namespace wendrix {
namespace {

fs::path TestProgramDirectory() {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
  return fs::path(std::string(path, n)).parent_path();
}

struct Outcome {
  DWORD exitCode = 99;
  std::string output;
  std::string driverLog;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("wendrix-startup-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "Wendrix");
    fs::copy_file(TestProgramDirectory().parent_path() / "probe" / "startup_probe.exe",
                  dir_ / "Wendrix" / "Wendrix.exe");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void PutFake(const fs::path& folder) {
    fs::create_directories(folder);
    fs::copy_file(TestProgramDirectory() / "vJoyInterface.dll", folder / "vJoyInterface.dll");
  }

  // Runs the probe with the environment variables given (NAME=value),
  // which its children inherit, and `workingDirectory` as current folder.
  Outcome Run(std::initializer_list<std::pair<const char*, std::string>> env = {},
              const fs::path& workingDirectory = {}) {
    const fs::path log = dir_ / "driver.log";
    const fs::path out = dir_ / "out.txt";
    fs::remove(log);
    ::SetEnvironmentVariableA("FAKE_VJOY_LOG", log.string().c_str());
    for (const auto& [name, value] : env) ::SetEnvironmentVariableA(name, value.c_str());

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = ::CreateFileA(out.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = output;
    start.hStdError = output;
    start.hStdInput = nullptr;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + (dir_ / "Wendrix" / "Wendrix.exe").string() + "\"";
    const std::string cwd = workingDirectory.empty() ? dir_.string() : workingDirectory.string();
    Outcome o;
    if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, cwd.c_str(), &start,
                         &process)) {
      ::WaitForSingleObject(process.hProcess, 60000);
      ::GetExitCodeProcess(process.hProcess, &o.exitCode);
      ::CloseHandle(process.hThread);
      ::CloseHandle(process.hProcess);
    } else {
      ADD_FAILURE() << "cannot start the probe: " << ::GetLastError();
    }
    ::CloseHandle(output);
    ::SetEnvironmentVariableA("FAKE_VJOY_LOG", nullptr);
    for (const auto& [name, value] : env) ::SetEnvironmentVariableA(name, nullptr);
    // The probe's stdout is in text mode: every "\n" arrived as "\r\n".
    const std::string raw = Slurp(out);
    for (size_t i = 0; i < raw.size(); ++i)
      if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) o.output += raw[i];
    o.driverLog = Slurp(log);
    return o;
  }

  fs::path dir_;
};

const std::string kMessage = "MESSAGE\n" + MissingDriverMessage();

TEST_F(Startup, WithoutTheLibraryShowsTheMessageOnly) {
  const Outcome o = Run();
  EXPECT_EQ(o.exitCode, 0u);
  EXPECT_EQ(o.output, kMessage);
  EXPECT_EQ(o.driverLog, "");
}

TEST_F(Startup, EnabledDriverOpensTheWindow) {
  PutFake(dir_ / "Wendrix");
  const Outcome o = Run();
  EXPECT_EQ(o.exitCode, 0u);
  EXPECT_EQ(o.output, "WINDOW");
  EXPECT_EQ(o.driverLog, "vJoyEnabled\n");
}

TEST_F(Startup, DisabledDriverShowsTheMessage) {
  PutFake(dir_ / "Wendrix");
  const Outcome o = Run({{"FAKE_VJOY_ENABLED", "0x100"}});  // true only by its low byte
  EXPECT_EQ(o.exitCode, 0u);
  EXPECT_EQ(o.output, kMessage);
  EXPECT_EQ(o.driverLog, "vJoyEnabled\n");
}

// The current folder and PATH are places the system's library search
// would look; the program looks only beside itself.
TEST_F(Startup, IgnoresALibraryOnTheSearchPath) {
  PutFake(dir_ / "elsewhere");
  char path[32768];
  const DWORD n = ::GetEnvironmentVariableA("PATH", path, sizeof path);
  const std::string saved(path, n);
  ::SetEnvironmentVariableA("PATH", ((dir_ / "elsewhere").string() + ";" + saved).c_str());
  const Outcome o = Run({}, dir_ / "elsewhere");
  ::SetEnvironmentVariableA("PATH", saved.c_str());
  EXPECT_EQ(o.output, kMessage);
  EXPECT_EQ(o.driverLog, "");
}

TEST_F(Startup, ThreadsStillPushingAfterFinalisationNeverReachFreedCode) {
  PutFake(dir_ / "Wendrix");
  const Outcome o = Run({{"PROBE_PUSHERS", "3"}, {"FAKE_VJOY_LOG", ""}});
  EXPECT_EQ(o.exitCode, 0u);
  EXPECT_EQ(o.output, "WINDOW");
}

}  // namespace
}  // namespace wendrix
