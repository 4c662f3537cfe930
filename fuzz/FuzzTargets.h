#pragma once
// The fuzz targets: one function per parser of input that comes from files or
// the network, each taking any bytes and returning 0. A target feeds the bytes
// to the product's own code exactly as the product receives them (a file on
// disk, a pipe message, a command line) and goes through what a user of the
// result would do next, so that a parser that accepts something it cannot
// hold shows up as a crash or a sanitizer report.
//
// The same functions are linked two ways: into one libFuzzer program each
// (`make fuzz`, built with clang), and into the normal tests, which run every
// input kept under fuzz/corpus/ and fuzz/regressions/ through them.

#include <cstddef>
#include <cstdint>
#include <span>

namespace vn::fuzz {

using TargetFunction = int (*)(const std::uint8_t* data, std::size_t size);

struct Target {
  const char* name;  // also the folder of its inputs under fuzz/corpus and fuzz/regressions
  TargetFunction run;
};

int FuzzResultFile(const std::uint8_t* data, std::size_t size);
int FuzzChartFile(const std::uint8_t* data, std::size_t size);
int FuzzReportRecord(const std::uint8_t* data, std::size_t size);
int FuzzServerMessage(const std::uint8_t* data, std::size_t size);
int FuzzVNCommand(const std::uint8_t* data, std::size_t size);
int FuzzMachineIni(const std::uint8_t* data, std::size_t size);
int FuzzHostsFile(const std::uint8_t* data, std::size_t size);
int FuzzCredentials(const std::uint8_t* data, std::size_t size);
int FuzzReportClip(const std::uint8_t* data, std::size_t size);
int FuzzCustomDefinition(const std::uint8_t* data, std::size_t size);

// Every target, in a fixed order.
std::span<const Target> Targets();

}  // namespace vn::fuzz
