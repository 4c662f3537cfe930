#pragma once
// A PostgreSQL server of the test's own: a cluster made with initdb in a
// temporary directory, served by postgres on a Unix socket in that directory
// only (no TCP port), trusted for the local user "postgres", stopped and
// removed with the object.
//
// PostgreSQL refuses to run as root, so when the test runs as root the
// server's programs run as the "postgres" system user (runuser), in a
// directory that user owns. Available() is false, with the reason in
// Why(), where the programs or that user are missing: the tests then skip.

#include <filesystem>
#include <string>

namespace vn::testing {

class TempPostgres {
 public:
  TempPostgres();
  ~TempPostgres();
  TempPostgres(const TempPostgres&) = delete;
  TempPostgres& operator=(const TempPostgres&) = delete;

  bool Available() const { return m_running; }
  const std::string& Why() const { return m_why; }
  // A libpq connection string for a fresh database `name` of this server,
  // made here.
  std::string Database(const std::string& name);

 private:
  // Runs a program of the server's bin folder as the server's user; its
  // output goes to the log in the directory.
  bool Run(const std::string& program, const std::string& arguments);

  std::filesystem::path m_bin;
  std::filesystem::path m_dir;
  bool m_asPostgres = false;
  bool m_running = false;
  std::string m_why;
};

}  // namespace vn::testing
