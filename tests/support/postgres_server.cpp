#include "support/postgres_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

extern char** environ;

namespace korvan::testing {
namespace {

namespace fs = std::filesystem;

// The newest server installed: /usr/lib/postgresql/NN/bin.
std::string FindBinDir() {
  std::error_code ec;
  std::string best;
  int bestVersion = -1;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const std::string name = entry.path().filename().string();
    const int version = std::atoi(name.c_str());
    if (version > bestVersion && fs::exists(entry.path() / "bin" / "pg_ctl", ec)) {
      bestVersion = version;
      best = (entry.path() / "bin").string();
    }
  }
  return best;
}

// A local TCP port nobody listens on now.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

}  // namespace

std::unique_ptr<PostgresServer> PostgresServer::Start(std::string* problem) {
  std::unique_ptr<PostgresServer> server(new PostgresServer);
  server->binDir_ = FindBinDir();
  if (server->binDir_.empty()) {
    *problem = "no PostgreSQL server installed (/usr/lib/postgresql/*/bin/pg_ctl)";
    return nullptr;
  }
  std::string pattern = (fs::temp_directory_path() / "korvan-pg-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    *problem = "cannot make a temporary folder";
    return nullptr;
  }
  server->folder_ = pattern;
  if (::geteuid() == 0) {
    // The server refuses to run as root: the cluster belongs to an unprivileged user.
    const passwd* pw = ::getpwnam("postgres");
    if (pw == nullptr) pw = ::getpwnam("nobody");
    if (pw == nullptr) {
      *problem = "running as root, and neither the user postgres nor nobody exists";
      return nullptr;
    }
    server->user_ = pw->pw_name;
    if (::chown(server->folder_.c_str(), pw->pw_uid, pw->pw_gid) != 0 ||
        ::chmod(server->folder_.c_str(), 0700) != 0) {
      *problem = "cannot give " + server->folder_ + " to " + server->user_;
      return nullptr;
    }
  }
  bool copied = false;
  if (!server->MakeCluster(true, &copied, problem)) return nullptr;
  // A port found free may be taken before the server binds it: a few tries.
  for (int attempt = 0; attempt < 3; ++attempt) {
    server->port_ = FreePort();
    if (server->StartServer(problem)) return server;
  }
  // A template the server cannot start from (left by an older server, or damaged) is made
  // again, once.
  if (copied && server->MakeCluster(false, &copied, problem)) {
    server->port_ = FreePort();
    if (server->StartServer(problem)) return server;
  }
  return nullptr;
}

bool PostgresServer::MakeCluster(bool useTemplate, bool* copied, std::string* problem) {
  const std::vector<std::string> options = {"-U",   "korvan",     "--auth=trust", "-E",
                                            "UTF8", "--locale=C", "--no-sync"};
  std::string key = binDir_;
  for (const std::string& o : options) key += ' ' + o;
  const fs::path templ = fs::path(KORVAN_BINARY_DIR) / "tests" /
                         ("postgres-template-" + std::to_string(std::hash<std::string>()(key)));
  const std::string data = folder_ + "/data";
  std::error_code ec;
  *copied = false;
  fs::remove_all(data, ec);
  if (useTemplate && fs::exists(templ / "PG_VERSION", ec)) {
    // cp -a keeps the files' owner (the test runs as root) and their modes.
    if (Spawn({"/bin/cp", "-a", templ.string(), data}) == 0) {
      *copied = true;
      return true;
    }
    fs::remove_all(data, ec);
  }
  fs::remove_all(templ, ec);
  std::vector<std::string> args = {"-D", data};
  args.insert(args.end(), options.begin(), options.end());
  if (RunTool("initdb", args) != 0) {
    *problem = "initdb failed: " + LogTail();
    return false;
  }
  // Kept for the next server: copied aside, then renamed into place, so that a test process
  // never copies a template another one is still writing (the loser of a race drops its copy).
  const fs::path aside = templ.string() + "." + std::to_string(::getpid());
  bool kept = Spawn({"/bin/cp", "-a", data, aside.string()}) == 0;
  if (kept) {
    fs::rename(aside, templ, ec);
    kept = !ec;
  }
  if (!kept) fs::remove_all(aside, ec);
  return true;
}

PostgresServer* PostgresServer::Shared(std::string* problem) {
  static std::mutex mutex;
  static std::unique_ptr<PostgresServer> shared;
  static std::string sharedProblem;
  static bool tried = false;
  std::lock_guard lock(mutex);
  if (!tried) {
    tried = true;
    shared = Start(&sharedProblem);
  }
  if (!shared) *problem = sharedProblem;
  return shared.get();
}

PostgresServer::~PostgresServer() {
  if (running_) RunTool("pg_ctl", {"-D", folder_ + "/data", "-m", "immediate", "-w", "stop"});
  std::error_code ec;
  if (!folder_.empty()) fs::remove_all(folder_, ec);
}

std::string PostgresServer::Url(const std::string& database) const {
  return "postgresql://korvan@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PostgresServer::CreateDatabase(std::string* problem) {
  static std::atomic<int> counter{0};
  const std::string name =
      "korvan_test_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
  if (RunTool("createdb", {"-h", "127.0.0.1", "-p", std::to_string(port_), "-U", "korvan", name}) !=
      0) {
    *problem = "cannot create a database: " + LogTail();
    return "";
  }
  return Url(name);
}

bool PostgresServer::Stop(std::string* problem) {
  if (RunTool("pg_ctl", {"-D", folder_ + "/data", "-m", "fast", "-w", "stop"}) != 0) {
    *problem = "pg_ctl stop failed: " + LogTail();
    return false;
  }
  running_ = false;
  return true;
}

bool PostgresServer::Restart(std::string* problem) {
  return StartServer(problem);
}

bool PostgresServer::StartServer(std::string* problem) {
  const std::string options = "-p " + std::to_string(port_) + " -k " + folder_ +
                              " -c listen_addresses=127.0.0.1 -c fsync=off"
                              " -c full_page_writes=off -c max_connections=60";
  if (RunTool("pg_ctl", {"-D", folder_ + "/data", "-l", folder_ + "/server.log", "-o", options,
                         "-w", "-t", "30", "start"}) != 0) {
    *problem = "the server did not start: " + LogTail();
    return false;
  }
  running_ = true;
  return true;
}

int PostgresServer::RunTool(const std::string& tool, const std::vector<std::string>& args) const {
  std::vector<std::string> argv;
  if (!user_.empty()) argv = {"/usr/sbin/runuser", "-u", user_, "--"};
  argv.push_back(binDir_ + "/" + tool);
  argv.insert(argv.end(), args.begin(), args.end());
  return Spawn(std::move(argv));
}

int PostgresServer::Spawn(std::vector<std::string> argv) const {
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string log = folder_ + "/tools.log";
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // The server's own folder is the working directory: the programs refuse to start in one
  // their user cannot read (the test's own, as root).
  posix_spawn_file_actions_addchdir_np(&actions, folder_.c_str());
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string PostgresServer::LogTail() const {
  std::string text;
  for (const char* name : {"/tools.log", "/server.log"}) {
    std::ifstream in(folder_ + name);
    std::stringstream all;
    all << in.rdbuf();
    text += all.str();
  }
  if (text.size() > 1500) text = "..." + text.substr(text.size() - 1500);
  return text;
}

}  // namespace korvan::testing
