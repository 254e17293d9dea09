// The wheel as games read it. Debian's own readers (the kernel's joystick
// API, jstest, evtest, udev, SDL and Wine's DirectInput) read the wheel
// that the receiver in this process drives, while the tests play the phone
// over loopback. tests/vm/run-vm-tests runs them in a guest, in a chroot of
// the host's root file system, with udev and a Wine server running there
// (tests/vm/games); it sets WENDRIX_GAME_READERS=required, so that a
// missing reader fails instead of skipping.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Receiver.h"

namespace wendrix::test {

using namespace std::chrono_literals;

// A Wine program's first start in the guest takes about a minute without
// hardware acceleration.
constexpr std::chrono::milliseconds kReaderDeadline = 240s;

class GameReadersTest : public ReceiverTest {
 protected:
  void SetUp() override;

  // Skips, or fails where the stage requires every reader.
  static bool Missing(bool missing, const std::string& what);

  // A control datagram with a new sequence number; returns once the wheel
  // shows it. Its report has the buttons of legacy streams: all released
  // in these tests.
  void SendDatagram(uint16_t steering, uint16_t pedals);
  // A framed message on a stream of its own (axes relative to the centre
  // 16384, buttons by weight 1 and 2); returns once the wheel shows it.
  void SendFramed(int32_t steering, int32_t pedals, uint8_t button1, uint8_t button2);
  // A press and release of one button in two records of a legacy stream,
  // as a quick tap on the phone arrives; more records follow until the
  // wheel has shown the release.
  void TapOnLegacyStream(int button);

  // The wheel's nodes: /dev/input/eventN and /dev/input/jsN.
  static std::string EventPath();
  static std::string JoystickPath();
  // Prints a reader's output to the console, where the guide takes it from.
  static void Show(const std::string& title, const std::string& text);

 private:
  void WaitUntilShown(const vjoy::WheelState& expected);
};

// A program with pipes on its standard input and output (standard error
// goes to the output too). Killed and reaped when destroyed.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();

  bool Started() const { return pid_ > 0; }
  // Reads lines until one satisfies `match`; none at the end of the output
  // or at the deadline. Every line read is kept in Output().
  std::optional<std::string> LineMatching(const std::function<bool(const std::string&)>& match,
                                          std::chrono::milliseconds deadline = kReaderDeadline);
  std::optional<std::string> LineStarting(const std::string& prefix,
                                          std::chrono::milliseconds deadline = kReaderDeadline);
  void CloseInput();
  // The exit status, or -1 when it had to be killed at the deadline.
  int Wait(std::chrono::milliseconds deadline = kReaderDeadline);
  void Stop();  // SIGTERM, then reaped
  const std::string& Output() const { return output_; }

 private:
  bool ReadMore(std::chrono::steady_clock::time_point end);

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string pending_;
  std::string output_;
};

}  // namespace wendrix::test
