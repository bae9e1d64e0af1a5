// A package document as an input: whatever file sits in the document folder
// under the name a client gives is read by internalize: in the repository's
// own format, or as XMI when built with QOVIX_FUZZ_XMI (with QOVIX_FUZZ_ARCHIVES
// too, from project archives' seeds). It must be refused with an error, or
// read whole, never crash, leak or misbehave; and what a refused one read is
// undone with the call, as qovixd does.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "model_classes.h"

namespace {

#if defined(QOVIX_FUZZ_ARCHIVES)
constexpr char16_t kRead[] = u"xmi";
constexpr char16_t kWrite[] = u"xmi";
constexpr char kName[] = "archives";
#elif defined(QOVIX_FUZZ_XMI)
constexpr char16_t kRead[] = u"xmi";
constexpr char16_t kWrite[] = u"xmi 1.0";
constexpr char kName[] = "xmi";
#else
constexpr char16_t kRead[] = u"";
constexpr char16_t kWrite[] = u"";
constexpr char kName[] = "documents";
#endif

const std::filesystem::path& documentFolder() {
  static const std::filesystem::path folder = [] {
    auto made = std::filesystem::temp_directory_path() /
                ("qovix-fuzz-documents-" + std::to_string(getpid()) + "-" + kName);
    std::filesystem::create_directories(made);
    return made;
  }();
  return folder;
}

// A fresh repository now and then, so that what documents add stays small.
VORN& repository() {
  static std::unique_ptr<VORN> current;
  static int uses = 0;
  if (!current || ++uses % 500 == 0) {
    current = std::make_unique<VORN>("fuzz");
    current->store().settings().documentFolder = documentFolder();
  }
  return *current;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::ofstream(documentFolder() / "input", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  VORN& into = repository();
  QOVIXPackage package(into);
  try {
    QOVIXPackage read = package.internalize(QOVIXUninterpreted(kRead), QOVIXString(u"input"));
    // What was read can be written again; now and then, since a write waits
    // for the disk.
    static int reads = 0;
    if (++reads % 64 == 0) read.externalize(QOVIXUninterpreted(kWrite), QOVIXString(u"output"));
    into.store().commit();
  } catch (const std::exception&) {
    into.store().rollback();
  }
  return 0;
}
