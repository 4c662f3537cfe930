#pragma once
// The objects a report run works on, as the object tree's checks give them:
// local paths ("C:\", "C:\Dir") in the order added, and per machine, under its
// upper-case name, its network paths ("\\SERVER", "\\SERVER\Share",
// "\\SERVER\Share\Dir") in the order added. Duplicates are kept. The manager
// document holds one; the run driver reads it. Plain data; one thread at a time.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vn::console {

class CSelectedObjects {
 public:
  // A path whose second character is ":" is local, anything else a network
  // object (AddNetworkObject).
  void AddObject(std::string_view path);
  void AddLocalObject(std::string_view path);
  // "\\SERVER\Share..." is stored unchanged under SERVER; a bare machine name
  // is stored as "\\name". The key is the machine name in upper case.
  void AddNetworkObject(std::string_view text);
  void RemoveAllObject();
  bool HasObjects() const { return !m_localObjects.empty() || !m_networkObjects.empty(); }

  const std::vector<std::string>& LocalObjects() const { return m_localObjects; }
  const std::map<std::string, std::vector<std::string>>& NetworkObjects() const { return m_networkObjects; }
  // One machine's paths joined with ";" as its reporting server takes them;
  // empty when the machine has none.
  std::string JoinedObjects(std::string_view machine) const;

 private:
  std::vector<std::string> m_localObjects;
  std::map<std::string, std::vector<std::string>> m_networkObjects;
};

}  // namespace vn::console
