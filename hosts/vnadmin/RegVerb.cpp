// reg: keys and values of a machine's registry, this machine's or another's.
#include "hosts/vnadmin/AdminVerbs.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <ostream>

#include "hosts/vnadmin/AdminOutput.h"
#include "platform/core/AsciiText.h"
#include "platform/registry/RegistryKey.h"

namespace vn::admin {
namespace {

constexpr std::string_view kVerb = "reg";

struct KeyPath {
  std::string machine;   // "\\NAME", or empty for this machine
  HKEY root = nullptr;
  std::string rootName;  // as written
  std::string subkey;    // relative to the root, may be empty
  std::string Text() const { return (machine.empty() ? "" : machine + "\\") + rootName + (subkey.empty() ? "" : "\\" + subkey); }
};

struct RootName {
  std::string_view shortName;
  std::string_view longName;
  HKEY key;
};

const RootName* FindRoot(std::string_view name) {
  static const RootName kRoots[] = {
      {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKU", "HKEY_USERS", HKEY_USERS},
      {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
  };
  for (const auto& root : kRoots)
    if (EqualsIgnoringCase(name, root.shortName) || EqualsIgnoringCase(name, root.longName)) return &root;
  return nullptr;
}

// "[\\MACHINE\]ROOT[\SUBKEY]"; false for anything else.
bool ParseKeyPath(std::string_view text, KeyPath* path) {
  if (text.starts_with("\\\\")) {
    const std::size_t end = text.find('\\', 2);
    if (end == std::string_view::npos || end == 2) return false;
    path->machine = std::string(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  const std::size_t end = text.find('\\');
  const RootName* root = FindRoot(text.substr(0, end));
  if (!root) return false;
  path->root = root->key;
  path->rootName = std::string(root->shortName);
  std::string_view subkey = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  while (subkey.ends_with('\\')) subkey.remove_suffix(1);
  path->subkey = std::string(subkey);
  return !subkey.starts_with('\\');
}

// The root of the machine's registry that `path` names.
LONG ConnectRoot(const KeyPath& path, RegistryKey* root) {
  return RegConnectRegistryA(path.machine.empty() ? nullptr : path.machine.c_str(), path.root, root->Out());
}

LONG OpenKey(const KeyPath& path, REGSAM access, RegistryKey* key, bool create) {
  RegistryKey root;
  if (const LONG error = ConnectRoot(path, &root); error != ERROR_SUCCESS) return error;
  if (create)
    return RegCreateKeyExA(root.get(), path.subkey.c_str(), 0, nullptr, 0, access, nullptr, key->Out(), nullptr);
  return RegOpenKeyExA(root.get(), path.subkey.c_str(), 0, access, key->Out());
}

struct TypeName {
  DWORD type;
  std::string_view name;
};
constexpr TypeName kTypes[] = {{REG_SZ, "REG_SZ"},
                               {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
                               {REG_BINARY, "REG_BINARY"},
                               {REG_DWORD, "REG_DWORD"},
                               {REG_MULTI_SZ, "REG_MULTI_SZ"}};

std::string TypeText(DWORD type) {
  for (const auto& known : kTypes)
    if (known.type == type) return std::string(known.name);
  return "REG_" + std::to_string(type);
}

std::optional<DWORD> ParseType(std::string_view name) {
  for (const auto& known : kTypes)
    if (EqualsIgnoringCase(known.name, name)) return known.type;
  return std::nullopt;
}

std::string Hex(const BYTE* data, std::size_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0xF];
  }
  return text;
}

// Value data as reg shows it: strings as text, multi-strings joined by "\0",
// DWORDs in hex, everything else as hex bytes.
std::string DataText(DWORD type, const std::vector<BYTE>& data) {
  const std::string bytes(data.begin(), data.end());
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return bytes.substr(0, bytes.find('\0'));
    case REG_MULTI_SZ: {
      std::string text;
      std::size_t start = 0;
      while (start < bytes.size() && bytes[start] != '\0') {
        const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
        if (!text.empty()) text += "\\0";
        text += bytes.substr(start, end - start);
        start = end + 1;
      }
      return text;
    }
    case REG_DWORD:
      if (data.size() == 4) {
        const DWORD value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                            static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
        char text[16];
        std::snprintf(text, sizeof text, "0x%x", value);
        return text;
      }
      return Hex(data.data(), data.size());
    default:
      return Hex(data.data(), data.size());
  }
}

// The bytes to store for DATA of `type`; nullopt (with *why) when DATA does
// not fit the type.
std::optional<std::vector<BYTE>> ParseData(DWORD type, const std::string& data, const std::string& separator,
                                           std::string* why) {
  std::vector<BYTE> bytes;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      bytes.assign(data.begin(), data.end());
      bytes.push_back(0);
      return bytes;
    case REG_MULTI_SZ: {
      std::size_t start = 0;
      while (!data.empty()) {
        const std::size_t end = std::min(data.find(separator, start), data.size());
        if (end == start) {
          *why = "REG_MULTI_SZ data has an empty item";
          return std::nullopt;
        }
        bytes.insert(bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(start),
                     data.begin() + static_cast<std::ptrdiff_t>(end));
        bytes.push_back(0);
        if (end == data.size()) break;
        start = end + separator.size();
      }
      bytes.push_back(0);
      return bytes;
    }
    case REG_DWORD: {
      const bool hex = data.starts_with("0x") || data.starts_with("0X");
      const char* begin = data.data() + (hex ? 2 : 0);
      const char* end = data.data() + data.size();
      std::uint64_t value = 0;
      const auto [stop, error] = std::from_chars(begin, end, value, hex ? 16 : 10);
      if (begin == end || error != std::errc() || stop != end || value > 0xFFFFFFFFu) {
        *why = "REG_DWORD data must be a number from 0 to 4294967295 (or 0x0 to 0xffffffff), not \"" + data + "\"";
        return std::nullopt;
      }
      for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<BYTE>(value >> shift));
      return bytes;
    }
    default: {   // REG_BINARY
      const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
      };
      for (std::size_t i = 0; i < data.size(); i += 2) {
        const int high = digit(data[i]);
        const int low = i + 1 < data.size() ? digit(data[i + 1]) : -1;
        if (high < 0 || low < 0) {
          *why = "REG_BINARY data must be pairs of hex digits, not \"" + data + "\"";
          return std::nullopt;
        }
        bytes.push_back(static_cast<BYTE>(high << 4 | low));
      }
      return bytes;
    }
  }
}

// The options after the key.
struct RegOptions {
  std::optional<std::string> value;   // /v NAME, or "" for /ve
  bool allValues = false;             // /va
  std::optional<std::string> type;    // /t
  std::optional<std::string> data;    // /d
  std::string separator = "\\0";      // /s
};

bool ParseOptions(const Arguments& args, std::size_t from, RegOptions* options, std::string* why) {
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string option = ToUpperAscii(args[i]);
    const auto takeValue = [&](std::optional<std::string>* into) {
      if (i + 1 >= args.size()) {
        *why = args[i] + " needs a value";
        return false;
      }
      if (into->has_value()) {
        *why = args[i] + " given twice";
        return false;
      }
      *into = args[++i];
      return true;
    };
    if (option == "/V") {
      if (!takeValue(&options->value)) return false;
    } else if (option == "/VE") {
      if (options->value) {
        *why = "/v and /ve exclude each other";
        return false;
      }
      options->value = std::string();
    } else if (option == "/VA") {
      options->allValues = true;
    } else if (option == "/T") {
      if (!takeValue(&options->type)) return false;
    } else if (option == "/D") {
      if (!takeValue(&options->data)) return false;
    } else if (option == "/S") {
      std::optional<std::string> separator;
      if (!takeValue(&separator)) return false;
      if (separator->empty()) {
        *why = "/s needs a separator";
        return false;
      }
      options->separator = *separator;
    } else if (option == "/F") {
      // Nothing asks for confirmation, so there is nothing to force.
    } else {
      *why = "unknown option " + args[i];
      return false;
    }
  }
  if (options->allValues && options->value) {
    *why = "/va and /v or /ve exclude each other";
    return false;
  }
  return true;
}

LONG ReadValue(HKEY key, const std::string& name, DWORD* type, std::vector<BYTE>* data) {
  DWORD size = 0;
  LONG error = RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size);
  while (error == ERROR_SUCCESS || error == ERROR_MORE_DATA) {
    data->resize(size);
    DWORD got = size;
    error = RegQueryValueExA(key, name.c_str(), nullptr, type, data->data(), &got);
    if (error == ERROR_SUCCESS) {
      data->resize(got);
      return ERROR_SUCCESS;
    }
    size = got > size ? got : size * 2 + 16;   // it grew in between
  }
  return error;
}

std::string ValueLabel(const std::string& name) { return name.empty() ? "(Default)" : name; }

int Query(const KeyPath& path, const RegOptions& options, std::ostream& out, std::ostream& err) {
  if (options.type || options.data || options.allValues) return BadUsage(err, kVerb, "query takes only /v or /ve");
  RegistryKey key;
  if (const LONG error = OpenKey(path, KEY_READ, &key, false); error != ERROR_SUCCESS)
    return Fail(err, path.Text(), static_cast<DWORD>(error));
  Table table({"Name", "Type", "Data"});
  if (options.value) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (const LONG error = ReadValue(key.get(), *options.value, &type, &data); error != ERROR_SUCCESS)
      return Fail(err, path.Text() + " value " + ValueLabel(*options.value), static_cast<DWORD>(error));
    table.Add({ValueLabel(*options.value), TypeText(type), DataText(type, data)});
    table.Print(out);
    return kExitSuccess;
  }
  DWORD maxName = 0, maxData = 0;
  if (const LONG error = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                          &maxName, &maxData, nullptr, nullptr);
      error != ERROR_SUCCESS)
    return Fail(err, path.Text(), static_cast<DWORD>(error));
  for (DWORD index = 0;; ++index) {
    std::string name(maxName + 1, '\0');
    std::vector<BYTE> data(maxData + 1);
    DWORD nameLength = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
    const LONG error =
        RegEnumValueA(key.get(), index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error == ERROR_MORE_DATA) {   // written in between: look again with room for it
      if (const LONG info = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                             &maxName, &maxData, nullptr, nullptr);
          info != ERROR_SUCCESS)
        return Fail(err, path.Text(), static_cast<DWORD>(info));
      maxName = std::max<DWORD>(maxName, nameLength);
      maxData = std::max<DWORD>(maxData, dataSize);
      --index;
      continue;
    }
    if (error != ERROR_SUCCESS) return Fail(err, path.Text(), static_cast<DWORD>(error));
    name.resize(nameLength);
    data.resize(dataSize);
    table.Add({ValueLabel(name), TypeText(type), DataText(type, data)});
  }
  for (DWORD index = 0;; ++index) {
    char name[256] = {};
    DWORD length = sizeof name;
    const LONG error = RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error != ERROR_SUCCESS) return Fail(err, path.Text(), static_cast<DWORD>(error));
    table.Add({std::string(name, length), "KEY", ""});
  }
  table.Print(out);
  return kExitSuccess;
}

int Add(const KeyPath& path, const RegOptions& options, std::ostream& out, std::ostream& err) {
  if (options.allValues) return BadUsage(err, kVerb, "add takes /v or /ve, not /va");
  if (!options.value && (options.type || options.data)) return BadUsage(err, kVerb, "/t and /d need /v or /ve");
  if (path.subkey.empty() && !options.value) return BadUsage(err, kVerb, "add needs a key below the root");
  DWORD type = REG_SZ;
  if (options.type) {
    const auto parsed = ParseType(*options.type);
    if (!parsed) return BadUsage(err, kVerb, "unknown type " + *options.type);
    type = *parsed;
  }
  std::vector<BYTE> bytes;
  if (options.value) {
    std::string why;
    const auto parsed = ParseData(type, options.data.value_or(std::string()), options.separator, &why);
    if (!parsed) return BadUsage(err, kVerb, why);
    bytes = *parsed;
  }
  RegistryKey key;
  if (const LONG error = OpenKey(path, KEY_ALL_ACCESS, &key, true); error != ERROR_SUCCESS)
    return Fail(err, path.Text(), static_cast<DWORD>(error));
  if (options.value) {
    if (const LONG error = RegSetValueExA(key.get(), options.value->c_str(), 0, type, bytes.data(),
                                          static_cast<DWORD>(bytes.size()));
        error != ERROR_SUCCESS)
      return Fail(err, path.Text() + " value " + ValueLabel(*options.value), static_cast<DWORD>(error));
  }
  out << SystemText(ERROR_SUCCESS) << "\n";
  return kExitSuccess;
}

// Deletes every key below `key`, deepest first: a key that still has
// subkeys cannot be deleted. Stops at the first failure; what was deleted
// until then stays deleted.
LONG DeleteSubkeys(HKEY key) {
  for (;;) {
    char name[256] = {};
    DWORD length = sizeof name;
    LONG error = RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    RegistryKey child;
    error = RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, child.Out());
    if (error == ERROR_SUCCESS) error = DeleteSubkeys(child.get());
    if (error == ERROR_SUCCESS) error = RegDeleteKeyA(key, name);
    if (error != ERROR_SUCCESS) return error;
  }
}

int Delete(const KeyPath& path, const RegOptions& options, std::ostream& out, std::ostream& err) {
  if (options.type || options.data) return BadUsage(err, kVerb, "delete takes only /v, /ve or /va");
  if (!options.value && !options.allValues && path.subkey.empty())
    return BadUsage(err, kVerb, "a root key cannot be deleted");
  RegistryKey key;
  if (const LONG error = OpenKey(path, KEY_ALL_ACCESS, &key, false); error != ERROR_SUCCESS)
    return Fail(err, path.Text(), static_cast<DWORD>(error));
  if (options.value) {
    if (const LONG error = RegDeleteValueA(key.get(), options.value->c_str()); error != ERROR_SUCCESS)
      return Fail(err, path.Text() + " value " + ValueLabel(*options.value), static_cast<DWORD>(error));
  } else if (options.allValues) {
    // Always the first: each delete moves the rest up.
    for (;;) {
      char name[16384] = {};
      DWORD length = sizeof name;
      const LONG error = RegEnumValueA(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (error == ERROR_NO_MORE_ITEMS) break;
      if (error != ERROR_SUCCESS) return Fail(err, path.Text(), static_cast<DWORD>(error));
      if (const LONG deleted = RegDeleteValueA(key.get(), name); deleted != ERROR_SUCCESS)
        return Fail(err, path.Text() + " value " + ValueLabel(name), static_cast<DWORD>(deleted));
    }
  } else {
    LONG error = DeleteSubkeys(key.get());
    if (error == ERROR_SUCCESS) error = RegDeleteKeyA(key.get(), "");
    if (error != ERROR_SUCCESS) return Fail(err, path.Text(), static_cast<DWORD>(error));
  }
  out << SystemText(ERROR_SUCCESS) << "\n";
  return kExitSuccess;
}

}  // namespace

int RegVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  if (args.size() < 2) return BadUsage(err, kVerb, args.empty() ? "no operation given" : "no key given");
  const std::string operation = ToUpperAscii(args[0]);
  if (operation != "QUERY" && operation != "ADD" && operation != "DELETE")
    return BadUsage(err, kVerb, "unknown operation " + args[0]);
  KeyPath path;
  if (!ParseKeyPath(args[1], &path))
    return BadUsage(err, kVerb, "a key is written [\\\\MACHINE\\]ROOT\\KEY with ROOT one of HKLM, HKCU, HKU, HKCR, not " +
                                    args[1]);
  RegOptions options;
  if (std::string why; !ParseOptions(args, 2, &options, &why)) return BadUsage(err, kVerb, why);
  if (operation == "QUERY") return Query(path, options, out, err);
  if (operation == "ADD") return Add(path, options, out, err);
  return Delete(path, options, out, err);
}

}  // namespace vn::admin
