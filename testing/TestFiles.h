#pragma once
// Host files as tests write and read them: whole texts, result files cut
// into lines and fields, and the small shell scripts test machines run as
// services and jobs.

#include <filesystem>
#include <string>
#include <vector>

namespace vn::testing {

// The whole file, byte for byte; empty when it cannot be read.
std::string ReadText(const std::filesystem::path& path);

// Replaces the file with `text`, byte for byte.
void WriteText(const std::filesystem::path& path, const std::string& text);

// Splits a result file into its lines (without their CR LF).
std::vector<std::string> ResultLines(const std::string& text);
// The fields of a result line, quotes removed; a text whose closing quote is
// missing ends the line.
std::vector<std::string> ResultFields(const std::string& line);

// Writes `dir`/`name` (creating `dir`): "#!/bin/sh" and `body`, executable by
// its owner and readable by everyone.
void WriteScript(const std::filesystem::path& dir, const std::string& name, const std::string& body);

// The pid a process writes to `path` ("PID\n"), once the whole line is there
// (waiting with WaitUntil); 0 when it never is.
int WaitForPidFile(const std::filesystem::path& path);

}  // namespace vn::testing
