#include "testing/TempPostgres.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace vn::testing {

namespace fs = std::filesystem;

namespace {

// The newest installed server's programs: Debian keeps them under
// /usr/lib/postgresql/<version>/bin.
fs::path ServerBin() {
  fs::path best;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const fs::path bin = entry.path() / "bin";
    if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl") && (best.empty() || entry.path() > best.parent_path()))
      best = bin;
  }
  return best;
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

TempPostgres::TempPostgres() {
  m_bin = ServerBin();
  if (m_bin.empty()) {
    m_why = "PostgreSQL's server programs (initdb, pg_ctl) are not installed (Debian: postgresql)";
    return;
  }
  const passwd* user = nullptr;
  if (::geteuid() == 0) {
    user = ::getpwnam("postgres");
    if (!user) {
      m_why = "running as root, and there is no \"postgres\" user to run PostgreSQL as";
      return;
    }
    m_asPostgres = true;
  }
  // Under /tmp itself: a test's own temporary folder may be closed to that
  // user, and the socket's path must stay short.
  std::string pattern = "/tmp/vn-pg-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    m_why = "cannot make a temporary directory";
    return;
  }
  m_dir = pattern;
  if (user && ::chown(m_dir.c_str(), user->pw_uid, user->pw_gid) != 0) {
    m_why = "cannot hand the temporary directory to the postgres user";
    return;
  }
  const std::string data = (m_dir / "data").string();
  if (!Run("initdb", "-D " + Quoted(data) + " -U postgres --auth=trust -E UTF8 --locale=C")) {
    m_why = "initdb failed (see " + (m_dir / "server.log").string() + ")";
    return;
  }
  // No TCP at all: the socket in the directory is the only way in.
  const std::string options = "-c listen_addresses='' -k " + m_dir.string() + " -c fsync=off";
  if (!Run("pg_ctl", "-D " + Quoted(data) + " -w -t 60 -l " + Quoted((m_dir / "server.log").string()) + " -o " +
                         Quoted(options) + " start")) {
    m_why = "the server did not start (see " + (m_dir / "server.log").string() + ")";
    return;
  }
  m_running = true;
}

TempPostgres::~TempPostgres() {
  if (m_running) (void)Run("pg_ctl", "-D " + Quoted((m_dir / "data").string()) + " -w -t 60 -m fast stop");
  std::error_code ec;
  if (!m_dir.empty()) fs::remove_all(m_dir, ec);
}

bool TempPostgres::Run(const std::string& program, const std::string& arguments) {
  std::string command = Quoted((m_bin / program).string()) + " " + arguments;
  if (m_asPostgres) command = "runuser -u postgres -- " + command;
  // The server's own directory: the postgres user may not enter the test's.
  command = "cd " + Quoted(m_dir.string()) + " && " + command + " >>" + Quoted((m_dir / "tools.log").string()) + " 2>&1";
  return std::system(command.c_str()) == 0;
}

std::string TempPostgres::Database(const std::string& name) {
  if (!m_running) return {};
  const std::string base = "host=" + m_dir.string() + " user=postgres";
  (void)Run("createdb", "-h " + Quoted(m_dir.string()) + " -U postgres " + Quoted(name));
  return base + " dbname=" + name;
}

}  // namespace vn::testing
