// Where background work reports, one line at a time. The run log implements it;
// front ends may add a listener (the command line echoes each line). Kept in the
// lowest layer so that the engine and the file layer can report without knowing
// the application shell.
#pragma once

#include <string_view>

namespace veltora {

class LineLog {
 public:
  virtual ~LineLog() = default;
  // Appends one line; never throws, a line that cannot be written is dropped.
  virtual void Append(std::string_view message) = 0;
};

}  // namespace veltora
