// What the kernel alone costs to hand a stream of datagrams to a program:
// one thread blocked in recvfrom on PORT of every address, taking each
// datagram and nothing else, until it is killed. bench/window-cpu --floor
// reads its CPU time while padsim streams to it, as it reads the
// program's: the floor under the program's UDP receiver at that rate.
//   bench_receive_floor PORT
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
    return 2;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    std::perror("bind");
    return 1;
  }
  // As large as the program's receive buffer.
  uint8_t buffer[100];
  for (;;) {
    sockaddr_in sender{};
    socklen_t size = sizeof sender;
    recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &size);
  }
}
