#pragma once

// A PostgreSQL server of a test's own: a cluster in a temporary folder, its Unix socket in that
// folder, a free port on the loopback address only, and nothing left behind. Run as root (as CI
// runs), the server runs as an unprivileged user, for it refuses to run as root.

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace kvr::test {

class PgCluster {
 public:
  PgCluster() { ready_ = Start(); }
  ~PgCluster() {
    if (ready_) Ctl({"stop", "-m", "immediate"});
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  bool Ready() const { return ready_; }
  // Why there is no server: nothing installed, or what failed.
  const std::string& Why() const { return why_; }
  // The URL of database `name` (the cluster's own "postgres" unless made with CreateDatabase).
  std::string Url(const std::string& name = "postgres") const {
    return "postgresql://kvr@127.0.0.1:" + std::to_string(port_) + "/" + name;
  }
  const std::string& Bin() const { return bin_; }

  // The server stopped at once (as a crash or a pulled cable stops it) and started again.
  bool Stop() { return Ctl({"stop", "-m", "immediate"}); }
  bool Restart() {
    return Ctl(
        {"start", "-o",
         "-k " + folder_ + " -p " + std::to_string(port_) + " -c listen_addresses=127.0.0.1 -F",
         "-l", folder_ + "/server.log"});
  }

  // Runs a program of the server's as the server's user; true when it exits with 0.
  bool Run(const std::string& program, std::vector<std::string> args) const {
    std::vector<std::string> argv;
    if (::geteuid() == 0)
      argv = {"setpriv", "--reuid=" + std::to_string(uid_), "--regid=" + std::to_string(gid_),
              "--clear-groups", "--"};
    argv.push_back(bin_ + "/" + program);
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::vector<char*> pointers;
      for (std::string& arg : argv) pointers.push_back(arg.data());
      pointers.push_back(nullptr);
      // The server's chatter stays out of the test's output (and the test's unwritten output
      // is not written a second time from here).
      const int null = ::open("/dev/null", O_WRONLY);
      if (null >= 0) ::dup2(null, STDOUT_FILENO);
      ::execvp(pointers[0], pointers.data());
      ::_exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
  }

 private:
  bool Ctl(std::vector<std::string> args) const {
    args.insert(args.end(), {"-D", folder_ + "/data", "-w", "-t", "30"});
    return Run("pg_ctl", args);
  }

  static std::string FindBin() {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error))
      if (std::filesystem::exists(entry.path() / "bin/initdb"))
        found.push_back(entry.path() / "bin");
    if (found.empty()) return {};
    // The newest version: "15" before "9.6" would sort wrongly as text.
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return found.back();
  }

  static int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port = ntohs(address.sin_port);
    ::close(s);
    return port;
  }

  bool Start() {
    bin_ = FindBin();
    if (bin_.empty()) {
      why_ = "PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb)";
      return false;
    }
    std::string folder = (std::filesystem::temp_directory_path() / "kvr-pg-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
      why_ = "no temporary folder";
      return false;
    }
    folder_ = folder;
    uid_ = ::geteuid();
    gid_ = ::getegid();
    if (uid_ == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      if (nobody == nullptr) {
        why_ = "running as root and there is no user nobody to run the server";
        return false;
      }
      uid_ = nobody->pw_uid;
      gid_ = nobody->pw_gid;
      if (::chown(folder_.c_str(), uid_, gid_) != 0) {
        why_ = "the temporary folder cannot be given to nobody";
        return false;
      }
    }
    port_ = FreePort();
    if (!Run("initdb", {"-D", folder_ + "/data", "-U", "kvr", "--auth=trust", "-E", "UTF8",
                        "--no-sync", "--locale=C"})) {
      why_ = "initdb failed";
      return false;
    }
    if (!Restart()) {
      why_ = "the server did not start (see " + folder_ + "/server.log)";
      Ctl({"stop", "-m", "immediate"});
      return false;
    }
    return true;
  }

  std::string bin_;
  std::string folder_;
  std::string why_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  int port_ = 0;
  bool ready_ = false;
};

}  // namespace kvr::test
