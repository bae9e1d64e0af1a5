#include "client/tool/web_launch.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace qovix::tool {
namespace {

// Where qovix_web is: beside this binary (the build tree), or in the
// share folder beside its bin folder (an installed qovix).
std::filesystem::path webPackageFolder(const std::filesystem::path& self) {
  const std::filesystem::path here = self.parent_path();
  for (const std::filesystem::path& folder :
       {here / "python", here.parent_path() / "share" / "qovix" / "python"}) {
    std::error_code error;
    if (std::filesystem::exists(folder / "qovix_web" / "__main__.py", error)) return folder;
  }
  throw std::runtime_error("qovix web finds no qovix_web beside " + here.string() +
                           " (build the project, or install its package)");
}

}  // namespace

void launchWeb(const WebLaunch& launch) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw std::runtime_error("qovix web cannot tell where qovix is: " + error.message());
  const std::filesystem::path folder = webPackageFolder(self);
  std::string path = folder.string();
  if (const char* before = std::getenv("PYTHONPATH"); before != nullptr && *before != '\0') {
    path.append(":").append(before);
  }
  setenv("PYTHONPATH", path.c_str(), 1);

  // QOVIX_PYTHON names another interpreter; by default, the one the build
  // found with the web view's packages.
  const char* chosen = std::getenv("QOVIX_PYTHON");
  const std::string python = chosen != nullptr && *chosen != '\0' ? chosen : QOVIX_WEB_PYTHON;
  std::vector<std::string> words = {python,
                                    "-m",
                                    "qovix_web",
                                    "--host",
                                    launch.host,
                                    "--port",
                                    std::to_string(launch.port),
                                    "--qovix",
                                    self.string()};
  if (launch.tls.enabled) words.emplace_back("--tls");
  for (const auto& [option, value] :
       {std::pair{"--ca", &launch.tls.authority}, std::pair{"--cert", &launch.tls.certificate},
        std::pair{"--key", &launch.tls.key}}) {
    if (!value->empty()) words.insert(words.end(), {option, *value});
  }
  if (!launch.listen.empty()) words.insert(words.end(), {"--listen", launch.listen});
  words.insert(words.end(), launch.more.begin(), launch.more.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  execvp(python.c_str(), argv.data());
  throw std::runtime_error("qovix web cannot run " + python + ": " + std::strerror(errno));
}

}  // namespace qovix::tool
