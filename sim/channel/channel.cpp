#include "sim/channel/channel.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace sim::channel {

std::int64_t now_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool send_all(int fd, const void *bytes, std::size_t count) {
  const auto *at = static_cast<const char *>(bytes);
  while (count > 0) {
    // MSG_NOSIGNAL: a simulator that has gone is an answer, not a SIGPIPE.
    const ssize_t sent = ::send(fd, at, count, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    at += sent;
    count -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool receive_all(int fd, void *bytes, std::size_t count) {
  auto *at = static_cast<char *>(bytes);
  while (count > 0) {
    const ssize_t got = ::recv(fd, at, count, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

bool send_with_fd(int socket, char byte, int fd) {
  msghdr message{};
  iovec part{&byte, 1};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr *header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  for (;;) {
    const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    return sent == 1;
  }
}

bool receive_with_fd(int socket, char &byte, int &fd) {
  fd = -1;
  msghdr message{};
  iovec part{&byte, 1};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t got;
  do {
    got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
  } while (got < 0 && errno == EINTR);
  if (got != 1) return false;
  for (cmsghdr *header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header))
    if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
      std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  return true;
}

}  // namespace sim::channel
