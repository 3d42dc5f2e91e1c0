// twinsifter-decode PATH EXTENSION: decodes one picture for the program that started it, which
// passes a socket as stdin and stdout (see xDecodeHelper.cpp). Only our messages travel on it:
// the libraries and the programs they start print to stdout and stderr, and both lead nowhere.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "xDecodeHelper.h"

int main(int argc, char** argv) {
  struct stat channel {};
  if (argc != 3 || ::fstat(0, &channel) != 0 || !S_ISSOCK(channel.st_mode)) {
    std::fprintf(stderr, "twinsifter-decode is started by Twinsifter itself\n");
    return 2;
  }
  const int socket = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
  const int null = ::open("/dev/null", O_RDWR);
  if (socket < 0 || null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0) return 2;
  ::close(null);
  return ServeDecode(socket, argv[1], argv[2]);
}
