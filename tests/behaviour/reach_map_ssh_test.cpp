// The reach map over real ssh: an OpenSSH server of the test's own on
// 127.0.0.1, with a host key and a user key made for the test. Runs sent out
// through it and their files brought back must give the map this machine
// makes alone, byte for byte. Skipped where no OpenSSH server is installed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/system/files.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string sshd_program = "/usr/sbin/sshd";

std::string read_or_empty(const fs::path &path) {
  try {
    return sim::read_file(path.string());
  } catch (const sim::FileError &) {
    return "";
  }
}

// A word for sh.
std::string quoted(const std::string &text) {
  std::string word = "'";
  for (char ch : text) word += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return word + "'";
}

// Runs an sh command with no input and its output added to log; true if it
// succeeded.
bool run(const std::string &command, const fs::path &log) {
  const std::string line = command + " </dev/null >>" + quoted(log.string()) + " 2>&1";
  return std::system(line.c_str()) == 0;
}

bool on_path(const std::string &program) {
  const char *path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');)
    if (!folder.empty() && access((fs::path(folder) / program).c_str(), X_OK) == 0) return true;
  return false;
}

// A port no one listens on just now: the one the system hands out for port 0.
int spare_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = -1;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  if (fd >= 0) close(fd);
  return port;
}

bool accepts_connections(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool connected = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// An OpenSSH server of the test's own that lets the current user in with the
// test's key and no one else in any other way. Stopped, and its folder
// removed, when it goes out of scope.
class SshServer {
 public:
  SshServer() = default;
  SshServer(const SshServer &) = delete;
  SshServer &operator=(const SshServer &) = delete;
  ~SshServer() {
    stop();
    if (!folder_.empty()) fs::remove_all(folder_);
  }

  // Makes the keys and starts the server; what went wrong, or "".
  std::string start() {
    // Out of the build tree: the key's path goes into sshlogins, which
    // parallel splits at spaces.
    std::string pattern = (fs::temp_directory_path() / "reacher-sshd-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return "cannot make a folder for the server";
    folder_ = pattern;
    for (const char *key : {"host_key", "user_key"})
      if (!run("ssh-keygen -q -t ed25519 -N '' -C reacher-test -f " + quoted(path(key)),
               log_path()))
        return "ssh-keygen failed: " + log();
    // Debian's sshd, run as root, wants its privilege separation folder,
    // which the service manager makes at boot where sshd is a service.
    if (geteuid() == 0) {
      std::error_code ignored;
      fs::create_directories("/run/sshd", ignored);
    }
    // Another process may take the spare port before sshd binds it.
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = spare_port();
      write_config();
      if (!spawn()) return "cannot start " + sshd_program;
      for (auto deadline = std::chrono::steady_clock::now() + 10s;
           std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
        if (accepts_connections(port_)) return "";
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
          pid_ = -1;
          break;
        }
      }
      if (pid_ > 0) {
        stop();
        return "sshd did not listen within 10 s: " + log();
      }
    }
    return "sshd did not start: " + log();
  }

  // The ssh command, for an sshlogin, that logs in to this server as `host`.
  std::string login(const std::string &host) const {
    return "ssh -F /dev/null -i " + path("user_key") + " -p " + std::to_string(port_) +
           " -o BatchMode=yes -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null"
           " -o LogLevel=ERROR -o ConnectTimeout=10 " +
           host;
  }

  std::string log() const { return read_or_empty(log_path()); }
  pid_t pid() const { return pid_; }

 private:
  std::string path(const std::string &name) const { return (folder_ / name).string(); }
  fs::path log_path() const { return folder_ / "log.txt"; }

  void write_config() const {
    std::ofstream(path("sshd_config")) << "ListenAddress 127.0.0.1\n"
                                       << "Port " << port_ << "\n"
                                       << "HostKey " << path("host_key") << "\n"
                                       << "PidFile " << path("sshd.pid") << "\n"
                                       << "AuthorizedKeysFile " << path("user_key.pub") << "\n"
                                       << "PubkeyAuthentication yes\n"
                                       << "PasswordAuthentication no\n"
                                       << "KbdInteractiveAuthentication no\n"
                                       << "PermitRootLogin prohibit-password\n"
                                       // Test folders may be group-writable.
                                       << "StrictModes no\n"
                                       << "UsePAM no\n";
  }

  bool spawn() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log_path().c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string program = sshd_program, foreground = "-D", to_stderr = "-e", file = "-f",
                config = path("sshd_config");
    char *argv[] = {program.data(), foreground.data(), to_stderr.data(),
                    file.data(),    config.data(),     nullptr};
    const bool spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!spawned) pid_ = -1;
    return spawned;
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms))
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  fs::path folder_;
  int port_ = -1;
  pid_t pid_ = -1;
};

struct Map {
  fs::path out;
  bool made = false;
  std::string output;  // the script's stdout and stderr
};

// scripts/reach-map on a coarse kinematic grid with this build's executables,
// into a fresh folder.
Map make_map(const fs::path &out, const std::string &options = "") {
  fs::remove_all(out);
  fs::create_directories(out.parent_path());
  const fs::path log = out.string() + ".log";
  fs::remove(log);
  Map map{out, false, ""};
  // A guard against a map that hangs, not a measure of speed: on a loaded
  // machine five runs over ssh logins have taken over 150 s.
  map.made =
      run("timeout -k 10 450 " + quoted(std::string(REACHER_SOURCE_DIR) + "/scripts/reach-map") +
              " --engine kinematic --spacing 50 --jobs 1 --out " + quoted(out.string()) +
              " --build-dir " + quoted(REACHER_BUILD_DIR) + " " + options,
          log);
  map.output = read_or_empty(log);
  return map;
}

// How many runs went to each host, from parallel's job log: tab-separated,
// the sshlogin second, a header line first. ':' is this machine.
std::map<std::string, int> runs_per_host(const fs::path &out) {
  std::ifstream joblog(out / "joblog.txt");
  std::map<std::string, int> runs;
  std::string line;
  std::getline(joblog, line);
  while (std::getline(joblog, line)) {
    std::istringstream fields(line);
    std::string seq, login;
    std::getline(fields, seq, '\t');
    std::getline(fields, login, '\t');
    ++runs[login.substr(login.find_last_of(' ') + 1)];
  }
  return runs;
}

class ReachMapOverSsh : public testing::Test {
 protected:
  void SetUp() override {
    if (access(sshd_program.c_str(), X_OK) != 0 || !on_path("ssh") || !on_path("ssh-keygen")) {
      const std::string why = "needs an OpenSSH server and client (" + sshd_program +
                              ", ssh, ssh-keygen): install openssh-server and openssh-client";
      // CI installs them, so there a missing server is a failure, not a skip.
      if (std::getenv("REACHER_REQUIRE_SSHD")) FAIL() << why;
      GTEST_SKIP() << why;
    }
    const std::string error = server_.start();
    ASSERT_EQ(error, "");
    folder_ = fs::path(REACHER_TEST_RUNS) / "reach_map_ssh" /
              testing::UnitTest::GetInstance()->current_test_info()->name();
    here_ = make_map(folder_ / "here");
    ASSERT_TRUE(here_.made) << here_.output;
  }

  // Makes the map through an sshloginfile of these lines, expects it to be
  // this machine's own, and gives how many runs each host ran.
  std::map<std::string, int> map_through(const std::string &logins) {
    const fs::path file = folder_ / "sshlogins.txt";
    std::ofstream(file) << logins;
    const Map there = make_map(folder_ / "there", "--sshloginfile " + quoted(file.string()));
    EXPECT_TRUE(there.made) << there.output << "\nsshd:\n" << server_.log();
    if (!there.made) return {};
    const std::string json = read_or_empty(here_.out / "reach_map.json");
    EXPECT_FALSE(json.empty());
    EXPECT_EQ(read_or_empty(there.out / "reach_map.json"), json);
    EXPECT_TRUE(read_or_empty(there.out / "reach_map.png") ==
                read_or_empty(here_.out / "reach_map.png"))
        << "the pictures differ";
    std::map<std::string, int> runs = runs_per_host(there.out);
    int total = 0;
    for (const auto &[host, count] : runs) total += count;
    EXPECT_EQ(total, static_cast<int>(std::distance(fs::directory_iterator(here_.out / "jobs"),
                                                    fs::directory_iterator())));
    return runs;
  }

  SshServer server_;
  fs::path folder_;
  Map here_;
};

TEST_F(ReachMapOverSsh, TwoLoginsToTheServerShareTheRunsAndMakeThisMachinesMap) {
  std::map<std::string, int> runs =
      map_through("1/" + server_.login("127.0.0.1") + "\n1/" + server_.login("localhost") + "\n");
  EXPECT_GE(runs["127.0.0.1"], 1);
  EXPECT_GE(runs["localhost"], 1);
  EXPECT_EQ(runs.count(":"), 0u);
}

// ':' in the file is this machine, whose runs parallel starts in a work folder
// of its own, away from the job folders.
TEST_F(ReachMapOverSsh, ThisMachineBesideALoginMakesTheSameMap) {
  std::map<std::string, int> runs = map_through(":\n1/" + server_.login("127.0.0.1") + "\n");
  EXPECT_GE(runs[":"], 1);
  EXPECT_GE(runs["127.0.0.1"], 1);
}

// A robustness map sends each run's world, with its robot's varied values,
// and brings back its report as a plain map does.
TEST_F(ReachMapOverSsh, ARobustnessMapWithAVariedKeyMadeThroughALoginIsThisMachinesOwn) {
  const std::string vary = "--vary camera.gain=0.99:1.01 --samples 1 --seed 5";
  const Map here = make_map(folder_ / "varied_here", vary);
  ASSERT_TRUE(here.made) << here.output;
  const fs::path file = folder_ / "sshlogins.txt";
  std::ofstream(file) << "1/" + server_.login("127.0.0.1") + "\n";
  const Map there =
      make_map(folder_ / "varied_there", vary + " --sshloginfile " + quoted(file.string()));
  ASSERT_TRUE(there.made) << there.output << "\nsshd:\n" << server_.log();
  for (const char *name : {"robustness.json", "robustness.png", "sensitivity.png"}) {
    EXPECT_FALSE(read_or_empty(here.out / name).empty()) << name;
    EXPECT_TRUE(read_or_empty(there.out / name) == read_or_empty(here.out / name))
        << name << " differs";
  }
  EXPECT_GE(runs_per_host(there.out)["127.0.0.1"], 1);
}

}  // namespace

namespace {

// A port on 127.0.0.1 whose connections the system completes and no one ever
// answers: a machine that has stalled.
class SilentPort {
 public:
  SilentPort() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
        listen(fd_, 64) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &size) == 0)
      port_ = ntohs(address.sin_port);
  }
  ~SilentPort() {
    if (fd_ >= 0) close(fd_);
  }
  SilentPort(const SilentPort &) = delete;
  SilentPort &operator=(const SilentPort &) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = -1;
};

// A login to 127.0.0.1 on a port, with no key of its own.
std::string plain_login(int port) {
  return "ssh -F /dev/null -p " + std::to_string(port) +
         " -o BatchMode=yes -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null"
         " -o LogLevel=ERROR 127.0.0.1";
}

class ReachMapOverSshFailures : public testing::Test {
 protected:
  void SetUp() override {
    if (!on_path("ssh")) {
      if (std::getenv("REACHER_REQUIRE_SSHD")) FAIL() << "needs an OpenSSH client";
      GTEST_SKIP() << "needs an OpenSSH client (ssh): install openssh-client";
    }
    folder_ = fs::path(REACHER_TEST_RUNS) / "reach_map_ssh" /
              testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(folder_);
  }

  // The map through one login, which must fail before any run: what the
  // script said. The login is named as the file gives it, with what ssh said.
  std::string refused_map(const std::string &login) {
    const Map map = map_through_login(login);
    EXPECT_FALSE(map.made) << map.output;
    EXPECT_NE(map.output.find("reach-map: ssh to the login '" + login +
                              "' failed (status 255); ssh said: "),
              std::string::npos)
        << map.output;
    EXPECT_EQ(map.output.find("runs done"), std::string::npos) << "a run began\n" << map.output;
    EXPECT_EQ(map.output.find("disk"), std::string::npos) << map.output;
    return map.output;
  }

  Map map_through_login(const std::string &login, const std::string &options = "") {
    const fs::path file = folder_ / "sshlogins.txt";
    std::ofstream(file) << "1/" << login << "\n";
    return make_map(folder_ / "map",
                    "--ssh-timeout 2 --sshloginfile " + quoted(file.string()) + " " + options);
  }

  fs::path folder_;
};

TEST_F(ReachMapOverSshFailures, AMachineThatTakesTheConnectionAndNeverAnswersIsNamed) {
  const SilentPort silent;
  ASSERT_GT(silent.port(), 0);
  const auto start = std::chrono::steady_clock::now();
  const std::string said = refused_map(plain_login(silent.port()));
  // Not a measure of speed: without a timeout the map waited for ever.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
  EXPECT_NE(said.find("timed out"), std::string::npos) << said;
}

TEST_F(ReachMapOverSshFailures, ARefusedConnectionAndARefusedKeyAreNamedWithWhatSshSaid) {
  // No server on the port: as when a machine's sshd was killed.
  const int port = spare_port();
  EXPECT_NE(refused_map(plain_login(port)).find("Connection refused"), std::string::npos);
  // A server that refuses the login.
  if (access(sshd_program.c_str(), X_OK) != 0) {
    if (std::getenv("REACHER_REQUIRE_SSHD")) FAIL() << "needs " << sshd_program;
    GTEST_SKIP() << "needs an OpenSSH server for the refused key";
  }
  SshServer server;
  ASSERT_EQ(server.start(), "");
  EXPECT_NE(refused_map(server.login("no-such-user@127.0.0.1")).find("Permission denied"),
            std::string::npos);
}

// The server's own processes: the listener and every sshd below it.
std::vector<pid_t> sshd_processes(pid_t listener) {
  std::map<pid_t, std::pair<pid_t, std::string>> processes;  // parent, name
  for (const auto &entry : fs::directory_iterator("/proc")) {
    // A file of /proc says its size is 0: read as a stream.
    std::string stat;
    std::getline(std::ifstream(entry.path() / "stat"), stat);
    const std::size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    processes[std::stoi(stat.substr(0, open))] = {parent, stat.substr(open + 1, close - open - 1)};
  }
  std::vector<pid_t> found;
  for (const auto &[pid, about] : processes) {
    pid_t up = pid;
    while (up > 1 && up != listener && processes.count(up)) up = processes[up].first;
    if (up == listener && about.second.starts_with("sshd")) found.push_back(pid);
  }
  return found;
}

TEST_F(ReachMapOverSshFailures, AMachineThatStallsWhileItsRunsGoIsNamed) {
  if (access(sshd_program.c_str(), X_OK) != 0) {
    if (std::getenv("REACHER_REQUIRE_SSHD")) FAIL() << "needs " << sshd_program;
    GTEST_SKIP() << "needs an OpenSSH server";
  }
  SshServer server;
  ASSERT_EQ(server.start(), "");
  // The test's own timeout out of the login, so that the map's two seconds
  // apply to each of the run's connections.
  std::string login = server.login("127.0.0.1");
  login.erase(login.find(" -o ConnectTimeout=10"), 21);
  Map map;
  fs::remove_all(folder_ / "map");  // no joblog of an earlier map
  std::thread making([&] { map = map_through_login(login, "--spacing 20"); });
  // Once the runs go, the server stops answering, its connections open.
  const fs::path joblog = folder_ / "map" / "joblog.txt";
  for (int tries = 0; tries < 1200; ++tries) {
    const std::string log = read_or_empty(joblog);
    if (std::count(log.begin(), log.end(), '\n') >= 2) break;
    std::this_thread::sleep_for(50ms);
  }
  const std::vector<pid_t> stalled = sshd_processes(server.pid());
  for (const pid_t pid : stalled) kill(pid, SIGSTOP);
  making.join();
  for (const pid_t pid : stalled) kill(pid, SIGCONT);
  EXPECT_FALSE(map.made) << map.output;
  EXPECT_NE(map.output.find("exit status 255)"), std::string::npos) << map.output;
  EXPECT_NE(map.output.find("reach-map: ssh to the login '" + login +
                            "' failed or lost its connection (status 255 is ssh's); ssh said: "),
            std::string::npos)
      << map.output;
  EXPECT_EQ(map.output.find("disk"), std::string::npos) << map.output;
}

}  // namespace
