#include "support/fake_systemctl.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace veltora::testing {
namespace {

constexpr char kScript[] = R"sh(#!/bin/sh
root=$(cd "$(dirname "$0")/.." && pwd)
echo "$*" >> "$root/calls"
[ -e "$root/broken" ] && exit 1
units="$root/units"
list() {
  for f in "$units"/*.service; do
    [ -f "$f" ] || continue
    "$@" "$(basename "$f")" "$f"
  done
}
file_line() { echo "$1 enabled enabled"; }
unit_line() {
  desc=""
  [ -f "$2.description" ] && desc=$(cat "$2.description")
  echo "$1 loaded $(cat "$2") running $desc"
}
case "$1" in
  show)
    unit="$4"
    if [ ! -f "$units/$unit" ]; then
      printf 'LoadState=not-found\nActiveState=inactive\nFreezerState=running\n'
      exit 0
    fi
    echo "LoadState=loaded"
    echo "ActiveState=$(cat "$units/$unit")"
    echo "FreezerState=$(cat "$units/$unit.freezer")"
    [ -f "$units/$unit.controls" ] && cat "$units/$unit.controls"
    exit 0 ;;
  is-active)
    [ -f "$units/$4" ] && [ "$(cat "$units/$4")" = active ] ;;
  --no-block)
    [ -f "$units/$4" ] || exit 5
    [ -e "$root/refused" ] && exit "$(cat "$root/refused")"
    exit 0 ;;
  list-unit-files)
    list file_line ;;
  list-units)
    list unit_line
    [ -f "$root/listed" ] && cat "$root/listed"
    exit 0 ;;
  *)
    exit 1 ;;
esac
)sh";

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace

FakeSystemctl::FakeSystemctl() {
  std::filesystem::create_directories(dir_.path() / "bin");
  std::filesystem::create_directories(dir_.path() / "units");
  const std::string tool = dir_ / "bin/systemctl";
  WriteText(tool, kScript);
  ::chmod(tool.c_str(), 0755);
  WriteText(dir_ / "calls", "");
}

void FakeSystemctl::RefuseControls(int status) {
  if (status == 0)
    std::filesystem::remove(dir_ / "refused");
  else
    WriteText(dir_ / "refused", std::to_string(status) + "\n");
}

std::string FakeSystemctl::searchPath() const {
  return dir_ / "bin" + std::string(":/usr/bin:/bin");
}

void FakeSystemctl::SetUnit(const std::string& unit, const std::string& activeState,
                            const std::string& freezerState, const std::string& description) {
  const std::string base = dir_ / ("units/" + unit + ".service");
  WriteText(base + ".freezer", freezerState + "\n");
  WriteText(base + ".description", description + "\n");
  // The state file last: it is what makes the unit exist.
  WriteText(base, activeState + "\n");
}

void FakeSystemctl::SetUnitControls(const std::string& unit, bool canStop, bool canFreeze) {
  WriteText(dir_ / ("units/" + unit + ".service.controls"),
            std::string("CanStop=") + (canStop ? "yes" : "no") +
                "\nCanFreeze=" + (canFreeze ? "yes" : "no") + "\n");
}

void FakeSystemctl::Break() { WriteText(dir_ / "broken", ""); }

void FakeSystemctl::AddListedLines(const std::string& lines) { WriteText(dir_ / "listed", lines); }

std::vector<std::string> FakeSystemctl::Calls() const {
  std::ifstream in(dir_ / "calls");
  std::vector<std::string> calls;
  for (std::string line; std::getline(in, line);) calls.push_back(line);
  return calls;
}

std::vector<std::string> FakeSystemctl::Controls() const {
  std::vector<std::string> controls;
  for (const auto& call : Calls())
    if (call.rfind("--no-block ", 0) == 0) controls.push_back(call);
  return controls;
}

void FakeSystemctl::ClearCalls() { WriteText(dir_ / "calls", ""); }

}  // namespace veltora::testing
