// Benchmark (not a test): one 200 MiB file uploaded to quenforth over loopback. Prints the throughput
// from the first byte sent to the answer, and the player process's peak resident memory (VmHWM), which
// shows that the body went through the scratch file rather than into memory.
//   bench_upload [MiB]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "http_client.h"
#include "quenforth_process.h"

namespace fs = std::filesystem;

namespace {

std::string PeakMemory(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return line.substr(6);
  return " unknown";
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
  const std::string boundary = "----QuenforthBenchBoundary";
  qftest::QuenforthProcess quenforth([](const fs::path& data) {
    qftest::WriteFile(data / "quenforth.ini",
                      "[Setup]\r\nServerPort=0\r\nbindLocal=1\r\nallowUpload=1\r\nRootDirectory=C:\\Uploads\r\n"
                      "CurrentDirectory=C:\\Uploads\r\n");
    fs::create_directories(data.parent_path().parent_path().parent_path().parent_path() / "Uploads");
  });
  std::printf("quenforth before the upload: peak memory%s\n", PeakMemory(quenforth.Pid()).c_str());

  const std::string head = "--" + boundary +
                           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"big.bin\"\r\n"
                           "Content-Type: application/octet-stream\r\n\r\n";
  const std::string tail = "\r\n--" + boundary + "--\r\n";
  const std::uint64_t dataBytes = mebibytes << 20;
  std::string piece(1 << 20, '\0');
  for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>((i * 131) >> 3);

  qftest::Connection connection(quenforth.Port());
  auto start = std::chrono::steady_clock::now();
  bool sent = connection.Send(
      "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: "
      "multipart/form-data; boundary=" +
      boundary + "\r\nContent-Length: " + std::to_string(head.size() + dataBytes + tail.size()) + "\r\n\r\n" + head);
  for (std::uint64_t done = 0; sent && done < dataBytes; done += piece.size()) sent = connection.Send(piece);
  sent = sent && connection.Send(tail);
  auto response = connection.Read(std::chrono::minutes(5));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  fs::path stored = quenforth.Prefix() / "drive_c/Uploads/big.bin";
  bool complete =
      sent && response && response->status == 200 && fs::exists(stored) && fs::file_size(stored) == dataBytes;
  std::printf("upload of %llu MiB: %s, %.2f s, %.1f MiB/s\n", static_cast<unsigned long long>(mebibytes),
              complete ? "stored whole" : "FAILED", seconds, static_cast<double>(mebibytes) / seconds);
  std::printf("quenforth after the upload: peak memory%s\n", PeakMemory(quenforth.Pid()).c_str());
  return complete ? 0 : 1;
}
