#include "hosts/vnadmin/AdminCommand.h"

#include <filesystem>
#include <ostream>

#include "hosts/vnadmin/AdminOutput.h"
#include "hosts/vnadmin/AdminVerbs.h"
#include "hosts/vnadmin/ReportVerb.h"
#include "platform/core/AsciiText.h"
#include "platform/machine/Machine.h"
#include "platform/machine/MachineConfig.h"

namespace vn::admin {
namespace {

using VerbFunction = int (*)(const Arguments&, std::ostream&, std::ostream&);

struct Verb {
  std::string_view name;
  VerbFunction run;
  std::string_view summary;
  std::string_view usage;
};

// The verbs, in the order --help lists them.
constexpr Verb kVerbs[] = {
    {"view", ViewVerb, "list the machines of a domain, or the domains",
     "usage: vnadmin view [DOMAIN | /domain]\n"
     "  Lists the machines of DOMAIN (default: this machine's domain), or with\n"
     "  /domain the domains this machine knows.\n"},
    {"shares", SharesVerb, "list the shares of a machine",
     "usage: vnadmin shares [\\\\MACHINE]\n"
     "  Lists the shares of MACHINE (default: this machine).\n"},
    {"dir", DirVerb, "list a directory",
     "usage: vnadmin dir PATH\n"
     "  Lists the directory PATH, or the files its last component matches when\n"
     "  that holds * or ?. PATH is C:\\Dir on this machine or \\\\MACHINE\\Share\\Dir.\n"},
    {"copy", CopyVerb, "copy a file, between machines too",
     "usage: vnadmin copy [/y] SOURCE DESTINATION\n"
     "  Copies the file SOURCE to DESTINATION (a file, or a directory to copy\n"
     "  into). Either may be on another machine. An existing destination file is\n"
     "  replaced only with /y.\n"},
    {"del", DelVerb, "delete files",
     "usage: vnadmin del PATH\n"
     "  Deletes the file PATH, or every file its last component matches when that\n"
     "  holds * or ?. Directories are left alone.\n"},
    {"reg", RegVerb, "query, add and delete registry keys and values",
     "usage: vnadmin reg query  [\\\\MACHINE\\]ROOT\\KEY [/v NAME | /ve]\n"
     "       vnadmin reg add    [\\\\MACHINE\\]ROOT\\KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]\n"
     "       vnadmin reg delete [\\\\MACHINE\\]ROOT\\KEY [/v NAME | /ve | /va] [/f]\n"
     "  ROOT is HKLM (HKEY_LOCAL_MACHINE); HKCU, HKU and HKCR are named but have\n"
     "  no hive. TYPE is REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ (items\n"
     "  separated by \\0, or by SEP), REG_DWORD (decimal or 0x hex) or REG_BINARY\n"
     "  (hex digits). add without /v or /ve only creates the key; delete without\n"
     "  them deletes the key with everything below it; /va deletes every value of\n"
     "  the key. /f is accepted and changes nothing: nothing asks for confirmation.\n"},
    {"sc", ScVerb, "query, start, stop, create and delete services",
     "usage: vnadmin sc [\\\\MACHINE] query [NAME]\n"
     "       vnadmin sc [\\\\MACHINE] start NAME [ARGUMENTS...]\n"
     "       vnadmin sc [\\\\MACHINE] stop NAME\n"
     "       vnadmin sc [\\\\MACHINE] create NAME binPath= PATH [start= auto|demand|disabled]\n"
     "                              [type= own|share] [error= ignore|normal|severe|critical]\n"
     "                              [DisplayName= TEXT] [depend= NAME/NAME...]\n"
     "       vnadmin sc [\\\\MACHINE] delete NAME\n"
     "  query without NAME lists every service. Options of create are written\n"
     "  \"option= value\" (or \"option=value\"); start defaults to demand.\n"},
    {"at", AtVerb, "list, add and delete scheduled jobs",
     "usage: vnadmin at [\\\\MACHINE] [ID]\n"
     "       vnadmin at [\\\\MACHINE] TIME [/interactive] [/every:DAYS | /next:DAYS] COMMAND...\n"
     "       vnadmin at [\\\\MACHINE] ID /delete\n"
     "       vnadmin at [\\\\MACHINE] /delete /yes\n"
     "  Without TIME lists the jobs (or the job ID). TIME is HH:MM[:SS] in 24 hours\n"
     "  or with AM/PM. DAYS is a comma list of weekdays (M,T,W,Th,F,S,Su) and days\n"
     "  of the month (1-31): /every runs on each of them, /next on the next one;\n"
     "  an empty list means today's day of the month. Without either the job runs\n"
     "  once, today or tomorrow. /delete /yes deletes every job.\n"},
    {"status", StatusVerb, "show this machine's service",
     "usage: vnadmin status\n"
     "  Shows whether this machine's service runs, its pid, address and domain.\n"
     "  Exit status 0 when it runs, 3 when it does not.\n"},
    {"stop", StopVerb, "stop this machine's service",
     "usage: vnadmin stop\n"
     "  Stops this machine's service politely (its services first) and waits for\n"
     "  it to end.\n"},
    {"eventlog", EventLogVerb, "show a machine's event log",
     "usage: vnadmin eventlog [\\\\MACHINE] [/source NAME]\n"
     "  Lists the events of MACHINE's log (default: this machine), oldest first:\n"
     "  its services started, stopped, ended, failed, installed and removed, and\n"
     "  what programs there reported. /source keeps the events of one source.\n"},
    {"report", ReportVerb, "run a standard report on a machine's reporting server",
     "usage: vnadmin report MACHINE \"REPORT NAME\" OBJECTS [options] -o FILE\n"
     "  Runs one standard report on MACHINE's reporting server, as the console\n"
     "  does, and writes the result to FILE. OBJECTS: the machine's paths joined\n"
     "  by \";\" (C:\\Data, \\\\SRV1\\Share) or its name for all its fixed drives.\n"
     "  REPORT NAME \\\\HOST\\Name runs the custom report Name stored on HOST.\n"
     "  Options set the report record (criteria of the slot --slot chooses):\n"
     "    --slot 0-3  --scope between|larger|smaller|all\n"
     "    --measure mb|kb|bytes|date|days|months|years|percent\n"
     "    --value1 TEXT  --value2 TEXT\n"
     "    --readonly|--archive|--compress|--hidden|--system|--temp set|clear|any\n"
     "    --compare  --filter PATTERNS  --owner NAMES  --fields MASK\n"
     "    --rptlen N  --units bytes|kb|mb  --options MASK  --quiet\n"
     "  Progress goes to the error stream; Ctrl+C cancels the report on the server.\n"},
    {"history", HistoryVerb, "list the scans of the scan history",
     "usage: vnadmin history [--db LOCATION]\n"
     "  Lists the scans the runs recorded (number, start, program, report), oldest\n"
     "  first. LOCATION: a SQLite file or a PostgreSQL connection string (default:\n"
     "  the profile's VNReport HistoryDatabase, else history.db beside it).\n"},
    {"growth", GrowthVerb, "write the growth of every directory since an earlier scan",
     "usage: vnadmin growth SINCE [--until SCAN] [--machine NAME] [--db LOCATION] -o FILE\n"
     "  Writes the Growth Since result to FILE: per machine and directory, the files\n"
     "  and bytes then and now and their change, between the Space By Directory\n"
     "  scan SINCE (a scan number, or a date or time: the last scan before it) and\n"
     "  SCAN (default: the latest). --machine keeps one machine.\n"},
};

const Verb* FindVerb(std::string_view name) {
  for (const Verb& verb : kVerbs)
    if (EqualsIgnoringCase(verb.name, name)) return &verb;
  return nullptr;
}

constexpr std::string_view kGeneralUsage =
    "usage: vnadmin [--home DIR] VERB [ARGUMENTS...]\n"
    "       vnadmin VERB --help\n"
    "\n"
    "Looks after Vornal machines: this one and any other this machine can reach.\n"
    "  --home DIR   use DIR as this machine's home\n"
    "\n"
    "Verbs:\n";

void PrintGeneralUsage(std::ostream& out) {
  out << kGeneralUsage;
  for (const Verb& verb : kVerbs) {
    out << "  " << verb.name << std::string(8 - verb.name.size(), ' ') << verb.summary << '\n';
  }
  out << "\nExit status: 0 success, 1 failure (the reason on stderr), 2 bad command line,\n"
         "3 from status when this machine's service does not run.\n";
}

bool IsHelp(std::string_view arg) { return arg == "--help" || arg == "-h" || arg == "/?"; }

}  // namespace

std::string_view VerbUsage(std::string_view verb) {
  const Verb* found = FindVerb(verb);
  return found ? found->usage : std::string_view();
}

int RunVnAdmin(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::size_t next = 0;
  while (next < args.size() && args[next].starts_with("-")) {
    const std::string& option = args[next];
    if (IsHelp(option)) {
      PrintGeneralUsage(out);
      return kExitSuccess;
    }
    std::string home;
    if (option == "--home" && next + 1 < args.size()) {
      home = args[next + 1];
      next += 2;
    } else if (option.starts_with("--home=")) {
      home = option.substr(7);
      ++next;
    } else {
      err << "vnadmin: unknown option " << option << "\n";
      PrintGeneralUsage(err);
      return kExitUsage;
    }
    if (home.empty()) {
      err << "vnadmin: --home needs a directory\n";
      return kExitUsage;
    }
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(home, ec);
    SetMachineHome(ec ? std::filesystem::path(home) : absolute);
  }
  if (next == args.size()) {
    err << "vnadmin: no verb given\n";
    PrintGeneralUsage(err);
    return kExitUsage;
  }
  if (IsHelp(args[next])) {
    PrintGeneralUsage(out);
    return kExitSuccess;
  }
  const Verb* verb = FindVerb(args[next]);
  if (!verb) {
    err << "vnadmin: unknown verb " << args[next] << "\n";
    PrintGeneralUsage(err);
    return kExitUsage;
  }
  const Arguments rest(args.begin() + static_cast<std::ptrdiff_t>(next) + 1, args.end());
  if (!rest.empty() && IsHelp(rest.front())) {
    out << verb->usage;
    return kExitSuccess;
  }
  if (std::string why; CheckMachineHome(&why) != ERROR_SUCCESS) {
    err << "vnadmin: " << why << "\n";
    return kExitFailure;
  }
  // Every call reads this machine's configuration (its hosts file, its
  // secrets): one it cannot read would fail them all, each less clearly.
  MachineConfig config;
  if (std::string why; !LoadMachineConfig(MachineHome(), &config, &why)) {
    err << "vnadmin: " << why << "\n";
    return kExitFailure;
  }
  return verb->run(rest, out, err);
}

}  // namespace vn::admin
