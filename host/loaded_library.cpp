#include "host/loaded_library.h"

#include <dlfcn.h>

#include <filesystem>

#include "host/host_error.h"

LoadedLibrary::LoadedLibrary(const std::string& path)
    : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)), entry_(nullptr) {
  if (handle_ == nullptr) throw HostError("cannot load the library: " + std::string(dlerror()));
  entry_ = reinterpret_cast<QovixServerEntry>(dlsym(handle_, "QOVIX_server_1"));
  if (entry_ == nullptr) {
    const std::string reason = dlerror();
    dlclose(handle_);
    throw HostError(path + " has no QOVIX_server_1: " + reason);
  }
}

LoadedLibrary::~LoadedLibrary() { dlclose(handle_); }

std::string LoadedLibrary::defaultPath() {
  constexpr const char* kName = "libQOVIX_os.so";
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return kName;
  const auto folder = executable.parent_path();
  if (std::filesystem::exists(folder / kName, error)) return (folder / kName).string();
  return (folder / QOVIX_LIBRARY_FOLDER_FROM_EXECUTABLE / kName).lexically_normal().string();
}
