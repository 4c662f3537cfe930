#include "console/core/wizards/ReportWizardChoice.h"

#include "console/core/objects/ObjectTree.h"
#include "console/core/reports/ReportTree.h"

namespace vn::console {

namespace {

constexpr int kColumnMargin = 25;

}  // namespace

bool CollectWizardObjects(const CObjectTree& tree, CSelectedObjects& objects) {
  tree.SaveObject(objects);
  return objects.HasObjects();
}

LONG ListWizardReportSets(std::string_view machine, std::vector<std::string>& names) {
  const LONG rc = ReadReportSetNames(machine, names);
  if (rc == ERROR_FILE_NOT_FOUND) {  // nothing stored there yet
    names.clear();
    return ERROR_SUCCESS;
  }
  if (rc != ERROR_SUCCESS) names.clear();
  return rc;
}

int WizardColumnWidth(int columnWidth, int nameWidth) {
  return nameWidth > columnWidth ? nameWidth + kColumnMargin : columnWidth;
}

std::string WizardObjectsText(const CSelectedObjects& objects) {
  std::string text;
  for (const std::string& path : objects.LocalObjects()) text += path + "\r\n";
  for (const auto& [machine, paths] : objects.NetworkObjects())
    for (const std::string& path : paths) text += path + "\r\n";
  return text;
}

std::string WizardReportSetText(const CReportWizardChoice& choice) {
  if (choice.location.empty()) return choice.reportSet;
  return choice.location + "\\" + choice.reportSet;
}

}  // namespace vn::console
