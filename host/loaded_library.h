#pragma once

// The QOVIX_os library, loaded for the host's lifetime. Unloading it runs its
// at-exit list.

#include <string>

#include "dispatch/entry_point.h"

class LoadedLibrary {
 public:
  // Loads `path` and finds QOVIX_server_1; throws HostError when either fails.
  explicit LoadedLibrary(const std::string& path);
  ~LoadedLibrary();
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  QovixServerEntry entry() const { return entry_; }

  // libQOVIX_os.so in the folder that holds the running executable (a build
  // tree), else in the private library folder of the prefix it is installed
  // in (../lib/qovix from bin/).
  static std::string defaultPath();

 private:
  void* handle_;
  QovixServerEntry entry_;
};
