// The leanest client of the block upload the benchmark can think of: plain sockets, no event
// loop, no retries, no progress, no debug lines. It sends the same requests as `mavo putfile`
// (same fields, same 512 KiB blocks, one HTTP/1.0 connection per block, each block to the path
// the previous answer names), so that the benchmark can tell the cost of the protocol and of the
// server from the cost of the uploader.
//
//   bare_putfile [HOST:]PORT ACCOUNT PASSWORD FOLDERID CONTENTID FILE
//
// HOST is an IPv4 address, 127.0.0.1 when left out.
// Prints the final answer's body; exits 1 on any failure.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kBlock = 512 * 1024;
constexpr char kBoundary[] = "Qu1llbox5_Xu02=$";

std::string Field(const char* name, const std::string& value) {
  return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data;name=\"" + name +
         "\"\r\n\r\n" + value + "\r\n";
}

bool SendAll(int socket, iovec* parts, int count) {
  while (count > 0) {
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = static_cast<size_t>(count);
    ssize_t sent = sendmsg(socket, &message, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    while (count > 0 && static_cast<size_t>(sent) >= parts->iov_len) {
      sent -= static_cast<ssize_t>(parts->iov_len);
      ++parts;
      --count;
    }
    if (count > 0) {
      parts->iov_base = static_cast<char*>(parts->iov_base) + sent;
      parts->iov_len -= static_cast<size_t>(sent);
    }
  }
  return true;
}

// One request on a connection of its own; the whole answer (the server closes after it).
bool Post(const std::string& host, int port, const std::string& path, const std::string& fields,
          const char* data, size_t size, std::string* answer) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  if (socket < 0) return false;
  // As the uploader does: the closing delimiter must not wait for the data before it to be
  // acknowledged.
  const int on = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    close(socket);
    return false;
  }
  if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(socket);
    return false;
  }
  const std::string closing = std::string("\r\n--") + kBoundary + "--\r\n";
  const std::string head =
      "POST " + path + " HTTP/1.0\r\nHost: " + host + ":" + std::to_string(port) +
      "\r\nContent-Type: multipart/form-data; boundary=" + kBoundary +
      "\r\nContent-Length: " + std::to_string(fields.size() + size + closing.size()) + "\r\n\r\n";
  iovec parts[4] = {{const_cast<char*>(head.data()), head.size()},
                    {const_cast<char*>(fields.data()), fields.size()},
                    {const_cast<char*>(data), size},
                    {const_cast<char*>(closing.data()), closing.size()}};
  const bool sent = SendAll(socket, parts, 4);
  answer->clear();
  char buffer[4096];
  ssize_t got;
  while (sent && (got = recv(socket, buffer, sizeof buffer, 0)) > 0) answer->append(buffer, got);
  close(socket);
  return sent;
}

std::string Element(const std::string& text, const std::string& name) {
  const size_t begin = text.find("<" + name + ">");
  const size_t end = text.find("</" + name + ">");
  if (begin == std::string::npos || end == std::string::npos) return {};
  return text.substr(begin + name.size() + 2, end - begin - name.size() - 2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr,
                 "usage: bare_putfile [HOST:]PORT ACCOUNT PASSWORD FOLDERID CONTENTID FILE\n");
    return 2;
  }
  const std::string where = argv[1];
  const size_t colon = where.rfind(':');
  const std::string host = colon == std::string::npos ? "127.0.0.1" : where.substr(0, colon);
  const int port = std::atoi(where.c_str() + (colon == std::string::npos ? 0 : colon + 1));
  const int file = open(argv[6], O_RDONLY);
  struct stat info {};
  if (file < 0 || fstat(file, &info) != 0) return 1;
  const uint64_t total = static_cast<uint64_t>(info.st_size);
  const std::string session =
      std::to_string(std::random_device()() * 1000003ULL + std::time(nullptr));
  std::vector<char> block(kBlock);
  std::string path = "/mavo/putFile/";
  std::string answer;
  uint64_t sent = 0;
  for (int seqno = 0;; ++seqno) {
    const size_t size = static_cast<size_t>(std::min<uint64_t>(kBlock, total - sent));
    if (pread(file, block.data(), size, static_cast<off_t>(sent)) != static_cast<ssize_t>(size)) {
      return 1;
    }
    const bool final = sent + size >= total;
    const std::string fields =
        Field("account", argv[2]) + Field("password", argv[3]) + Field("folderID", argv[4]) +
        Field("contentID", argv[5]) + Field("sessID", session) +
        Field("seqno", std::to_string(seqno)) + Field("sessFinish", final ? "yes" : "") +
        Field("blockSize", std::to_string(size)) + "--" + kBoundary +
        "\r\nContent-Disposition: multipart/form-data;name=\"mavofile\"; "
        "filename=\"mavofile.zip\"\r\nContent-Transfer-encoding: Binary\r\n\r\n";
    if (!Post(host, port, path, fields, block.data(), size, &answer)) return 1;
    sent += size;
    if (final) break;
    const std::string url = Element(answer, "url");
    if (url.empty()) {
      std::fprintf(stderr, "no url in %s\n", answer.c_str());
      return 1;
    }
    path = "/mavo/putFile" + url + "/";
  }
  const size_t body = answer.find("\r\n\r\n");
  std::printf("%s\n", body == std::string::npos ? answer.c_str() : answer.c_str() + body + 4);
  return Element(answer, "contentID").empty() ? 1 : 0;
}
