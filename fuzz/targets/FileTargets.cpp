// Targets over what the product reads from files: a result file opened in
// the result window, a chart data file opened in the graph window, a machine's machine.ini and hosts file, and the identity
// bundle a machine joins a domain with.
#include <algorithm>
#include <array>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "chart/VNChartData.h"
#include "console/core/graphs/ChartDataFile.h"
#include "console/core/results/FXDataManager.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/targets/ScratchFile.h"
#include "platform/machine/DomainIdentity.h"
#include "platform/machine/HostsFile.h"
#include "platform/machine/MachineConfig.h"

namespace vn::fuzz {
namespace {

std::string_view Text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace

// What the result window does with a file: open, index, show rows, sort by a
// few columns both ways, mark a row deleted.
int FuzzResultFile(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = WriteScratch("result.csv", data, size);
  console::CFXDataManager manager(path.string());
  if (!manager.Open()) return 0;
  manager.ReadHeader();
  if (manager.ReadAll()) {
    const std::uint32_t rows = std::min<std::uint32_t>(manager.GetLineCount(), 2000);
    std::array<char, 48> buffer{};
    for (std::uint32_t row = 0; row < rows; ++row) {
      (void)manager.SplitFields(manager.Line(row), console::CFXDataManager::kMaxFields);
      (void)manager.Field(row % 70);
      (void)manager.GetLine(row, buffer);
    }
    for (std::uint32_t column : {1u, 1u, 2u, 5u}) {
      if (manager.SortByColumn(column)) (void)manager.GetColumnWidth(column);
    }
    manager.MarkDeleted(1);
    (void)manager.IsDeleted(1);
    (void)manager.GetRecordCount();
  }
  manager.Close();
  return 0;
}

// What the graph window does with a chart data file: the numbers as the
// chart reads them (grouped into at most 20 sets, each total and value
// asked), and the labelled sections as the view reads them.
int FuzzChartFile(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = Text(data, size);
  if (auto chart = chart::VNChartData::CreateFromText(text)) {
    (void)chart->GroupSmallSets(20);
    for (int set = 0; set <= chart->LastSet() && set < 64; ++set) {
      (void)chart->SetTotal(set);
      for (int point = 0; point <= chart->LastPoint(set) && point < 64; ++point) (void)chart->YElement(set, point);
    }
    (void)chart->XElement(chart->PointCount());
  }
  const console::ChartLabels labels = console::ParseChartLabels(text);
  (void)console::ChartFileErrorText(labels.error);
  return 0;
}

int FuzzMachineIni(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path home = ScratchDirectory() / "home";
  std::filesystem::create_directories(home);
  WriteScratch("home/machine.ini", data, size);
  MachineConfig config;
  std::string error;
  (void)LoadMachineConfig(home, &config, &error);
  return 0;
}

int FuzzHostsFile(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = Text(data, size);
  std::vector<std::string> warnings;
  const HostsFile hosts = HostsFile::Parse(text, &warnings);
  for (const HostEntry& entry : hosts.Entries()) (void)hosts.Find("\\\\" + entry.name);
  (void)hosts.Domains();
  // The Listen setting of machine.ini takes the hosts file's address form.
  std::string address;
  std::uint16_t port = 0;
  std::string problem;
  (void)ParseAddressAndPort(text.substr(0, text.find('\n')), &address, &port, &problem);
  return 0;
}

int FuzzCredentials(const std::uint8_t* data, std::size_t size) {
  DomainCredentials credentials;
  std::string error;
  (void)ParseCredentials(Text(data, size), "fuzz input", &credentials, &error);
  return 0;
}

}  // namespace vn::fuzz
