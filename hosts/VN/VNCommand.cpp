#include "hosts/VN/VNCommand.h"

#include <charconv>
#include <fstream>

#include "console/core/objects/SelectedObjects.h"
#include "platform/core/AsciiText.h"
#include "platform/services/CommandLine.h"

namespace vn::host {

namespace {

constexpr std::string_view kUsage =
    "Usage: VN [--home DIR] /rs \"REPORT SET\" /on \"OBJECTS\" [/m MACHINE] [/p N]\n"
    "       VN [--home DIR] /rc \"CUSTOM REPORT\" /on \"OBJECTS\" [/m MACHINE] [/p N]\n"
    "Runs a report set (/rs) or a custom report (/rc) stored on MACHINE (default:\n"
    "this machine) over OBJECTS, object paths joined with \";\" (C:\\Data, SRV1,\n"
    "\\\\SRV1\\Share\\Dir), and keeps each merged result in <machine home>/results.\n"
    "/p N asks at most N machines' servers at once (default: the profile's\n"
    "VNReport ParallelMachines, else four per processor).\n";

std::string Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

// A name part of a file name: no path separators, control characters or
// characters Windows refuses; no leading dot; at most 80 bytes.
std::string FileNamePart(std::string_view text) {
  std::string part;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    part += (u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) ? '_' : c;
  }
  while (!part.empty() && (part.front() == '.' || part.front() == ' ')) part.erase(0, 1);
  if (part.size() > 80) {
    part.resize(80);
    // No character cut in two.
    while (!part.empty() && (static_cast<unsigned char>(part.back()) & 0x80)) part.pop_back();
  }
  return part;
}

}  // namespace

std::string_view VNUsage() { return kUsage; }

bool ParseVNCommand(std::vector<std::string> args, VNCommand* command, std::string* error) {
  *command = VNCommand{};
  if (args.size() >= 2 && args[0] == "--home") {
    command->home = args[1];
    args.erase(args.begin(), args.begin() + 2);
    if (command->home.empty()) {
      *error = "--home needs a folder";
      return false;
    }
  }
  if (args.size() == 1) {
    // One argument holding a whole command line, with or without the program word.
    std::vector<std::string> words = SplitArguments(args[0]);
    if (!words.empty() && (EqualsIgnoringCase(words[0], "VN") || EqualsIgnoringCase(words[0], "VN.EXE"))) {
      words = SplitCommandLine(args[0]);
      words.erase(words.begin());
    }
    args = std::move(words);
  }
  bool haveReport = false, haveObjects = false, haveMachine = false, haveParallel = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    const bool known = EqualsIgnoringCase(option, "/rs") || EqualsIgnoringCase(option, "/rc") ||
                       EqualsIgnoringCase(option, "/on") || EqualsIgnoringCase(option, "/m") ||
                       EqualsIgnoringCase(option, "/p");
    if (!known) {
      *error = "unexpected argument \"" + option + "\"";
      return false;
    }
    if (i + 1 >= args.size()) {
      *error = option + " needs a value";
      return false;
    }
    const std::string& value = args[++i];
    if (EqualsIgnoringCase(option, "/on")) {
      if (haveObjects) {
        *error = "/on is given twice";
        return false;
      }
      haveObjects = true;
      command->objects = value;
    } else if (EqualsIgnoringCase(option, "/p")) {
      int width = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), width);
      if (haveParallel || ec != std::errc() || end != value.data() + value.size() || width < 1 || width > 256) {
        *error = "/p needs one number of machines from 1 to 256";
        return false;
      }
      haveParallel = true;
      command->parallel = width;
    } else if (EqualsIgnoringCase(option, "/m")) {
      if (haveMachine || value.empty()) {
        *error = "/m needs one machine name";
        return false;
      }
      haveMachine = true;
      command->reportMachine = value;
    } else {
      if (haveReport) {
        *error = "give one of /rs and /rc, once";
        return false;
      }
      haveReport = true;
      command->customReport = EqualsIgnoringCase(option, "/rc");
      command->reportName = value;
    }
  }
  if (!haveReport || command->reportName.empty()) {
    *error = "name a report set (/rs) or a custom report (/rc)";
    return false;
  }
  if (!haveObjects) {
    *error = "name the objects (/on)";
    return false;
  }
  return true;
}

bool FillRunObjects(std::string_view objects, ReportRunContext* context, std::string* error) {
  console::CSelectedObjects selected;
  while (!objects.empty()) {
    const std::size_t end = objects.find(';');
    const std::string object = Trimmed(objects.substr(0, end));
    if (!object.empty()) {
      const bool local = object.size() >= 2 && object[1] == ':';
      // The machine a network object names: up to its first backslash after "\\".
      const std::string_view rest = std::string_view(object).substr(object.rfind("\\\\", 0) == 0 ? 2 : 0);
      const std::string_view machine = rest.substr(0, rest.find('\\'));
      const bool remote = !machine.empty() && machine.find_first_of("/:") == std::string_view::npos &&
                          (object.rfind("\\\\", 0) == 0 || machine.size() == rest.size());
      if (!local && !remote) {
        *error = "not an object path: \"" + object + "\"";
        return false;
      }
      selected.AddObject(object);
    }
    if (end == std::string_view::npos) break;
    objects.remove_prefix(end + 1);
  }
  if (!selected.HasObjects()) {
    *error = "no objects to report on";
    return false;
  }
  for (const auto& path : selected.LocalObjects()) {
    if (!context->localObjects.empty()) context->localObjects += ';';
    context->localObjects += path;
  }
  for (const auto& [name, paths] : selected.NetworkObjects()) context->remoteObjects[name] = paths;
  return true;
}

std::filesystem::path ResultFileName(const std::filesystem::path& directory, std::string_view report,
                                     std::string_view title, std::string_view stamp, int attempt) {
  std::string name = FileNamePart(report);
  if (name.empty()) name = "Report";
  const std::string titlePart = FileNamePart(title);
  if (!titlePart.empty() && !EqualsIgnoringCase(titlePart, name)) name += " - " + titlePart;
  name += " " + FileNamePart(stamp);
  if (attempt > 1) name += " (" + std::to_string(attempt) + ")";
  return directory / (name + ".csv");
}

std::string ResultTitle(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  for (int i = 0; i < 20 && std::getline(in, line); ++i) {
    if (line.rfind("\"B1\",\"", 0) != 0) continue;
    const std::size_t close = line.find('"', 6);
    return line.substr(6, close == std::string::npos ? std::string::npos : close - 6);
  }
  return {};
}

}  // namespace vn::host
