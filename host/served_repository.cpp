#include "host/served_repository.h"

#include <filesystem>

#include "host/host_error.h"
#include "platform/vorn_os/handle_registry.h"

ServedRepository::ServedRepository(const std::string& name, const std::string& documentFolder)
    : repository_(name) {
  if (!documentFolder.empty()) {
    std::error_code error;
    const auto folder = std::filesystem::canonical(documentFolder, error);
    if (error || !std::filesystem::is_directory(folder)) {
      throw HostError("--documents: '" + documentFolder + "' is no folder");
    }
    repository_.store().setDocumentFolder(folder);
  }
  handle_ = getHandle(&repository_, static_cast<VornObject*>(&repository_), nullptr);
  if (handle_ == 0) throw HostError("cannot register the repository");
}

ServedRepository::~ServedRepository() {
  deleteHandle(handle_);  // the repository is ours, not the registry's to delete
  vorn_os::releaseAll();
}
