// The Windows entry: wide arguments and environment (linked with -municode),
// UTF-8 inside, and a console that shows UTF-8 output.
#include <windows.h>

#include <cstdlib>

#include "base/wide_text.h"
#include "cli/main.h"

int wmain(int argc, wchar_t** argv) {
  ::SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(veltora::Narrow(argv[i]));
  return veltora::CliMain(args, [](const char* name) {
    const wchar_t* value = ::_wgetenv(veltora::Widen(name).c_str());
    return value != nullptr ? veltora::Narrow(value) : std::string();
  });
}
