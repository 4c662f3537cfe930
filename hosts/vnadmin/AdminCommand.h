#pragma once
// The whole command line of vnadmin: the options before the verb (--home DIR,
// --help), the verb table, and each verb's usage text. main() hands it the
// arguments after the program name; tests call it in-process the same way.
//
//   vnadmin [--home DIR] VERB [ARGUMENTS...]
//   vnadmin [--help]            the verbs and what they do
//   vnadmin VERB --help         the verb's usage (also VERB /?)
//
// --home makes DIR this machine's home for the process (as VORNAL_HOME does)
// and the home is checked before any verb runs (vn::CheckMachineHome): a home
// that cannot be used, or a machine configuration that cannot be read, ends
// the run with status 1 and the reason. Returns the exit status
// (AdminOutput.h).

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vn::admin {

[[nodiscard]] int RunVnAdmin(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The usage text of a verb of the table ("" for an unknown verb).
std::string_view VerbUsage(std::string_view verb);

}  // namespace vn::admin
