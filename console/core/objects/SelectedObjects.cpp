#include "console/core/objects/SelectedObjects.h"

#include "platform/core/AsciiText.h"

namespace vn::console {

void CSelectedObjects::AddObject(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':')
    AddLocalObject(path);
  else
    AddNetworkObject(path);
}

void CSelectedObjects::AddLocalObject(std::string_view path) { m_localObjects.emplace_back(path); }

void CSelectedObjects::AddNetworkObject(std::string_view text) {
  std::string machine;
  std::string path;
  if (text.substr(0, 2) == "\\\\") {
    const std::string_view rest = text.substr(2);
    machine = std::string(rest.substr(0, rest.find('\\')));
    path = std::string(text);
  } else {
    machine = std::string(text);
    path = "\\\\" + machine;
  }
  m_networkObjects[ToUpperAscii(machine)].push_back(std::move(path));
}

void CSelectedObjects::RemoveAllObject() {
  m_localObjects.clear();
  m_networkObjects.clear();
}

std::string CSelectedObjects::JoinedObjects(std::string_view machine) const {
  const auto found = m_networkObjects.find(ToUpperAscii(machine));
  if (found == m_networkObjects.end()) return {};
  std::string joined;
  for (const std::string& path : found->second) {
    if (!joined.empty()) joined += ';';
    joined += path;
  }
  return joined;
}

}  // namespace vn::console
