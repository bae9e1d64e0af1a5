// Project archives: each tool's kind is read by its content, and hostile
// archives are refused or their hostile entries left unread.

#include "interchange/xmi/model_archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "model_classes.h"
#include "tests/support/temporary_folder.h"
#include "utf/utf.h"

namespace {

const QOVIXUninterpreted kXmi(u"xmi");

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ArchiveEntry {
  std::string name;
  std::string text;
  bool symbolicLink = false;
};

class Archives : public ::testing::Test {
 protected:
  void SetUp() override {
    repository.store().settings().documentFolder = folder;
    store().commit();  // the anchor stays when a refused import is undone
  }

  // Writes the archive `name` of `entries` into the document folder.
  void writeArchive(const std::string& name, const std::vector<ArchiveEntry>& entries) {
    int error = 0;
    zip_t* archive = zip_open((folder / name).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    for (const ArchiveEntry& entry : entries) {
      zip_source_t* source = zip_source_buffer(archive, entry.text.data(), entry.text.size(), 0);
      const zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
      ASSERT_GE(index, 0) << zip_strerror(archive);
      if (entry.symbolicLink) {
        zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0,
                                         ZIP_OPSYS_UNIX, (S_IFLNK | 0777u) << 16);
      }
    }
    ASSERT_EQ(zip_close(archive), 0);
  }

  std::string import(const std::string& name) {
    const QOVIXPackage package = anchor.internalize(kXmi, QOVIXString(utf::toUtf16(name)));
    const ObjectId report =
        QOVIXModelElement::cast(package, 1).getTaggedValue(QOVIXName(u"qovix.import")).objectId();
    std::string text = utf::toUtf8(store().value(report, feature::QOVIXTaggedValue_umlValue)->text);
    store().commit();
    return text;
  }
  std::string refusal(const std::string& name) {
    const std::size_t before = store().objectCount();
    try {
      anchor.internalize(kXmi, QOVIXString(utf::toUtf16(name)));
    } catch (const std::runtime_error& error) {
      store().rollback();
      EXPECT_EQ(store().objectCount(), before);
      return error.what();
    }
    ADD_FAILURE() << name << " was read";
    return {};
  }

  PersistentStore& store() { return repository.store(); }
  TemporaryFolder temporary;
  const std::filesystem::path& folder = temporary.path();
  VORN repository{"archives"};
  QOVIXPackage anchor{repository};
  const std::string model =
      slurp(std::filesystem::path(QOVIX_XMI_SAMPLES) / "uml14_xmi12_magicdraw_style.xmi");
};

TEST_F(Archives, EachToolsArchiveIsReadByItsContent) {
  const std::string diagram = "<?xml version=\"1.0\"?>\n<pgml name=\"Class Diagram\"/>";
  const std::vector<std::pair<std::string, std::vector<ArchiveEntry>>> archives = {
      {"shop.zargo",
       {{"shop.argo", "<?xml version=\"1.0\"?>\n<argo><member type=\"xmi\"/></argo>"},
        {"shop_Class Diagram.pgml", diagram},
        {"shop.xmi", model},
        {"shop.todo", "<todo/>"}}},
      {"shop.zuml", {{"shop.proj", "<project/>"}, {"shop.xmi", model}}},
      {"shop.xml.zip", {{"shop.xml", model}}},
      // A comment that quotes markup before the root, as MagicDraw's may.
      {"quoted.xml.zip",
       {{"quoted.xml", "<?xml version=\"1.0\"?>\n<!-- <!DOCTYPE XMI SYSTEM \"UML1.4.dtd\"> -->\n" +
                           model.substr(model.find("<XMI"))}}},
      // Named for nothing a reader knows: the content decides.
      {"shop.mdzip",
       {{"com.nomagic.ci.metamodel.project", "<project/>"},
        {"com.nomagic.magicdraw.uml_model.model", model}}},
  };
  for (const auto& [name, entries] : archives) {
    writeArchive(name, entries);
    const std::string report = import(name);
    const std::string read = entries.size() == 2 && name == "shop.mdzip"
                                 ? "com.nomagic.magicdraw.uml_model.model"
                                 : entries[name == "shop.zargo" ? 2 : entries.size() - 1].name;
    EXPECT_NE(report.find("read from the archive's entry '" + read + "'"), std::string::npos)
        << name << ":\n"
        << report;
    EXPECT_NE(report.find("  1 Enumeration\n"), std::string::npos) << name << ":\n" << report;
  }
  EXPECT_NE(import("shop.zargo").find("archive entry shop_Class Diagram.pgml: no XMI"),
            std::string::npos);
}

TEST_F(Archives, HostileArchivesAreRefusedOrTheirHostileEntriesLeftUnread) {
  // A bomb: megabytes that deflate to kilobytes.
  writeArchive("bomb.zargo",
               {{"bomb.xmi", std::string("<XMI>").append(8u << 20, ' ').append("</XMI>")}});
  EXPECT_NE(refusal("bomb.zargo").find("zip bomb"), std::string::npos);

  // Paths outside the folder and links are never read, nor written.
  writeArchive("escape.zargo", {{"../../escape.xmi", model},
                                {"/tmp/absolute.xmi", model},
                                {"link.xmi", "/etc/passwd", true},
                                {"model.xmi", model}});
  const std::string report = import("escape.zargo");
  for (const char* line : {"archive entry ../../escape.xmi: a path outside",
                           "archive entry /tmp/absolute.xmi: a path outside",
                           "archive entry link.xmi: a symbolic link, not followed",
                           "read from the archive's entry 'model.xmi'"}) {
    EXPECT_NE(report.find(line), std::string::npos) << line << " not in\n" << report;
  }
  EXPECT_FALSE(std::filesystem::exists(folder.parent_path().parent_path() / "escape.xmi"));

  std::vector<ArchiveEntry> many;
  for (std::size_t i = 0; i < 100'000; ++i)
    many.push_back({std::string("e").append(std::to_string(i)), "x"});
  writeArchive("many.zargo", many);
  EXPECT_NE(refusal("many.zargo").find("holds more than 10000 entries"), std::string::npos);

  writeArchive("diagrams.zargo", {{"a.pgml", "<pgml/>"}});
  EXPECT_NE(refusal("diagrams.zargo").find("holds no XMI document"), std::string::npos);
  std::ofstream(folder / "cut.zargo", std::ios::binary) << std::string("PK\3\4\0\0", 6);
  EXPECT_NE(refusal("cut.zargo").find("is no zip archive libzip can read"), std::string::npos);
}

}  // namespace
