// TCP server load bench: 16 peers at once, a 17th waiting, a flood against a slow reader and
// peers that vanish, against the tool's TCPS_ port; prints the figures and exits 1 when a
// byte was lost, doubled or reordered or a slot was not handed on.
// Usage: tcp_load [--bytes N] [--flood N] [--vanish N] [--port N]
#include <cstdlib>
#include <string>

#include "bench/tcp_load.h"

namespace {
int freePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}
}  // namespace

int main(int argc, char** argv) {
  tcpload::Config cfg;
  int port = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const int v = std::atoi(argv[i + 1]);
    if (a == "--bytes")
      cfg.bytesPerPeer = v;
    else if (a == "--flood")
      cfg.floodBytes = v;
    else if (a == "--vanish")
      cfg.vanishing = v;
    else if (a == "--port")
      port = v;
    else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
  if (argc % 2 == 0) {
    std::fprintf(stderr, "usage: tcp_load [--bytes N] [--flood N] [--vanish N] [--port N]\n");
    return 2;
  }
  const tcpload::Figures f = tcpload::run(cfg, port ? port : freePort());
  tcpload::printFigures(cfg, f, stdout);
  return f.ok() ? 0 : 1;
}
