// veltora-make-settings-db SCHEMA TARGET
// Builds the prepared, empty settings database that ships beside the
// executables. Refuses to write over an existing file.
#include <exception>
#include <iostream>

#include "settings/settings_database.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: veltora-make-settings-db SCHEMA.sql TARGET\n";
    return 2;
  }
  try {
    veltora::CreateSettingsDatabase(argv[1], argv[2]);
  } catch (const std::exception& e) {
    std::cerr << "veltora-make-settings-db: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
