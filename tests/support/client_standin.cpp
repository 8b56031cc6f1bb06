// A stand-in for the game client in tests. Each start appends one line,
// "started" followed by "|" and each argument, to veshmarkland.started in its
// current directory, so two copies leave two lines and a test can see how
// it was called. With "--stay" as its first argument it then stays alive
// until killed, for at most a minute, so that a test which dies half way
// leaves nothing running for long.
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char* argv[]) {
  {
    std::string strLine = "started";
    for (int i = 1; i < argc; ++i) strLine += std::string("|") + argv[i];
    std::ofstream marker("veshmarkland.started", std::ios::binary | std::ios::app);
    marker << strLine << '\n';
  }
  if (argc > 1 && std::string(argv[1]) == "--stay") {
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}
