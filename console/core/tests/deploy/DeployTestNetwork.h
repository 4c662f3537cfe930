#pragma once
// A console machine set up as management station and server, and machines
// of the test harness to deploy to. This process is CONSOLE: its registry
// holds the product key and its drive S: the distribution folder VNDist, with
// the build's real VNSrv as "VNSrv.exe", so an installed server runs and
// answers.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/core/deploy/ServerDeploy.h"
#include "platform/machine/MachineConfig.h"
#include "testing/MachineNetwork.h"

namespace vn::testing {

// What the procedures showed: messages, progress titles and status lines, in
// order. `onStatus` runs on each status line (a test kills a machine there).
class RecordingFront : public console::CDeployFront {
 public:
  bool finishWizard = true;
  int wizards = 0;
  std::vector<std::string> messages;
  std::vector<std::string> titles;
  std::vector<std::string> statuses;
  std::vector<std::string> completed;
  int openProgress = 0;
  std::function<void(const std::string&)> onStatus;

  bool RunWizard() override {
    ++wizards;
    return finishWizard;
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void OpenProgress(const std::string& title) override {
    titles.push_back(title);
    ++openProgress;
  }
  void SetStatus(const std::string& text) override {
    statuses.push_back(text);
    if (onStatus) onStatus(text);
  }
  void Complete(const std::string& text) override { completed.push_back(text); }
  void CloseProgress() override { --openProgress; }
};

class DeployTestNetwork {
 public:
  // Adds `machines` (servers of TESTDOM), starts them, and makes CONSOLE a
  // management station and server of build 434.
  explicit DeployTestNetwork(const std::vector<std::string>& machines);

  MachineNetwork& Net() { return m_net; }
  // The host path of a Windows path ("S:\WINNT\x") of `machine`.
  std::filesystem::path HostPath(const std::string& machine, const std::string& windowsPath);
  std::filesystem::path Distribution() { return HostPath("CONSOLE", kConsoleProduct + "\\VNDist"); }

  static inline const std::string kConsoleProduct = "S:\\Program Files\\Pemberlyn\\4.0";
  static inline const std::string kInstallRoot = "S:\\Program Files\\Pemberlyn\\4.0";

 private:
  MachineNetwork m_net;
};

// Registry of a machine ("" = this one): a text or number value, nullopt when missing.
std::optional<std::string> RegText(const std::string& machine, const std::string& key, const std::string& value);
std::optional<DWORD> RegNumber(const std::string& machine, const std::string& key, const std::string& value);
bool RegKeyExists(const std::string& machine, const std::string& key);
LONG RegPutText(const std::string& machine, const std::string& key, const std::string& value,
                const std::string& data);
LONG RegPutNumber(const std::string& machine, const std::string& key, const std::string& value, DWORD data);
LONG RegRemoveValue(const std::string& machine, const std::string& key, const std::string& value);

// The current state of RODuduro on `machine`, or 0 when it cannot be queried.
DWORD ServiceState(const std::string& machine);
// Waits until the service has that state.
bool WaitForServiceState(const std::string& machine, DWORD state);

}  // namespace vn::testing
