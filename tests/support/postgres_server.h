// A PostgreSQL server of the test's own: a cluster made with initdb in a temporary folder,
// listening on a free local port and on a unix socket in that folder, with trust
// authentication for the user "korvan". Tests run as root, and the server refuses to; as root
// the cluster belongs to the unprivileged "postgres" user (or "nobody" when there is none) and
// every server program runs as that user.
//
// initdb takes over a second, and every test process that starts a server would pay it: the
// first cluster made in a build tree is kept as a template (build/tests/postgres-template-*,
// one per server version and initdb options) and later servers start from a copy of it. A
// copy the server cannot start from is thrown away and made again by initdb.
//
// The server binaries come from Debian's postgresql package (/usr/lib/postgresql/NN/bin).
// Tests that need a server skip when Start fails, with the reason it gives.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace korvan::testing {

class PostgresServer {
 public:
  // Makes the cluster and starts the server. nullptr and *problem when it cannot (no server
  // binaries, initdb or the start failed: the server log's last lines are in *problem).
  static std::unique_ptr<PostgresServer> Start(std::string* problem);
  // One server for the whole test program, started on first use; nullptr (and *problem) when
  // it cannot start. Each test takes a database of its own from it (CreateDatabase).
  static PostgresServer* Shared(std::string* problem);

  // Stops the server (immediate shutdown) and removes the folder.
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  int port() const { return port_; }
  // "postgresql://korvan@127.0.0.1:PORT/DATABASE".
  std::string Url(const std::string& database = "postgres") const;

  // A new, empty database with a name of its own; returns its URL, or "" and *problem.
  std::string CreateDatabase(std::string* problem);

  // Stops the server (fast shutdown: open connections are closed) and starts it again on the
  // same port with the same data; false and *problem when it cannot.
  bool Stop(std::string* problem);
  bool Restart(std::string* problem);
  bool running() const { return running_; }

 private:
  PostgresServer() = default;
  bool StartServer(std::string* problem);
  // The cluster in folder_/data: copied from the template when there is one (true), else
  // made by initdb and kept as the template. False and *problem when initdb failed.
  bool MakeCluster(bool useTemplate, bool* copied, std::string* problem);
  // Runs `argv` (argv[0] a full path), its output going to the folder's log; its exit status.
  int Spawn(std::vector<std::string> argv) const;
  // Runs a server program (as the cluster's owner when the test runs as root), its output
  // going to the folder's log; its exit status.
  int RunTool(const std::string& tool, const std::vector<std::string>& args) const;
  std::string LogTail() const;

  std::string binDir_;
  std::string folder_;
  std::string user_;  // the cluster's owner when run as root; empty otherwise
  int port_ = 0;
  bool running_ = false;
  int databases_ = 0;
};

}  // namespace korvan::testing
