// A fake systemctl in a temporary folder. It records every call (its
// arguments, one line each) and answers from files the test writes: a unit
// exists when units/NAME.service exists, holding its active state, with an
// optional NAME.service.freezer and NAME.service.description beside it.
#pragma once

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace veltora::testing {

class FakeSystemctl {
 public:
  FakeSystemctl();

  // A PATH value with the fake's folder first, then the system's folders.
  std::string searchPath() const;

  // Creates or changes a unit ("mssql-server" becomes mssql-server.service).
  void SetUnit(const std::string& unit, const std::string& activeState,
               const std::string& freezerState = "running", const std::string& description = "");
  // What `show` says the unit can do (CanStop, CanFreeze); unset, it says
  // nothing of it.
  void SetUnitControls(const std::string& unit, bool canStop, bool canFreeze);
  // Start, stop, freeze and thaw exit with `status` from now on (4: the
  // caller lacks the rights); 0 accepts them again.
  void RefuseControls(int status);
  // Every call fails from now on (exit status 1, nothing printed).
  void Break();
  // Lines list-units prints after the units of the folder.
  void AddListedLines(const std::string& lines);

  // The calls so far, oldest first, as "verb args...".
  std::vector<std::string> Calls() const;
  // The calls other than queries: start, stop, freeze, thaw.
  std::vector<std::string> Controls() const;
  void ClearCalls();

 private:
  TempDir dir_;
};

}  // namespace veltora::testing
