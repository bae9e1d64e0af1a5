#include "interchange/xmi/model_archive.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace model::xmi {
namespace {

struct ArchiveClose {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryClose {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using Archive = std::unique_ptr<zip_t, ArchiveClose>;
using Entry = std::unique_ptr<zip_file_t, EntryClose>;

[[noreturn]] void refuse(const std::string& name, const std::string& why) {
  throw std::runtime_error("archive '" + name + "' " + why);
}

// An entry's name as shown: cut, and only printable ASCII.
std::string shown(const char* entry) {
  std::string out;
  for (const char* c = entry; *c != '\0' && out.size() < 100; ++c) {
    out += *c >= 0x20 && *c < 0x7F ? *c : '?';
  }
  return out;
}

// Where what the prolog's markup at the start of `text` ends: a comment at
// its "-->", whatever it holds (a tool's comment may quote a <!DOCTYPE>), a
// processing instruction at its "?>", a document type past its internal
// subset; npos when it does not end.
std::size_t prologMarkupEnd(std::string_view text) {
  const auto past = [&](std::string_view close, std::size_t from) {
    const std::size_t at = text.find(close, from);
    return at == std::string_view::npos ? at : at + close.size();
  };
  if (text.starts_with("<!--")) return past("-->", 4);
  if (text.starts_with("<?")) return past("?>", 2);
  const std::size_t subset = text.find('[');
  if (subset != std::string_view::npos && subset < text.find('>')) {
    const std::size_t closed = past("]", subset);
    return closed == std::string_view::npos ? closed : past(">", closed);
  }
  return past(">", 0);
}

// Whether the text begins as an XMI document: past a byte-order mark, the
// XML declaration, comments, a document type and whitespace, its root is
// <XMI>, <xmi:XMI> or a UML 2 <uml:Model> or <uml:Package>.
bool looksLikeXmi(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  for (int steps = 0; steps < 64 && !text.empty(); ++steps) {
    const std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return false;
    text.remove_prefix(start);
    if (text.starts_with("<?") || text.starts_with("<!--") || text.starts_with("<!DOCTYPE")) {
      const std::size_t end = prologMarkupEnd(text);
      if (end == std::string_view::npos) return false;
      text.remove_prefix(end);
      continue;
    }
    if (!text.starts_with("<")) return false;
    const std::string_view tag = text.substr(1, text.find_first_of(" \t\r\n/>") - 1);
    const std::string_view local = tag.substr(tag.find(':') + 1);
    return local == "XMI" || tag == "uml:Model" || tag == "uml:Package";
  }
  return false;
}

// The entry inflated, at most `mostBytes` and within the ratio; empty and
// `why` set when it is not to be read.
std::string inflate(zip_t* archive, zip_uint64_t index, const zip_stat_t& stat,
                    const std::string& name, std::size_t mostBytes) {
  Entry file(zip_fopen_index(archive, index, 0));
  if (!file) refuse(name, "has an entry that cannot be read: " + shown(stat.name));
  std::string text;
  char buffer[1 << 16];
  const std::size_t stored = (stat.valid & ZIP_STAT_COMP_SIZE) ? stat.comp_size : 0;
  for (;;) {
    const zip_int64_t read = zip_fread(file.get(), buffer, sizeof buffer);
    if (read < 0) {
      refuse(name, std::string("entry '") + shown(stat.name) +
                       "' is damaged: " + zip_file_strerror(file.get()));
    }
    if (read == 0) break;
    text.append(buffer, static_cast<std::size_t>(read));
    if (text.size() > mostBytes) {
      refuse(name, std::string("entry '") + shown(stat.name) + "' inflates past " +
                       std::to_string(mostBytes >> 20) + " MiB");
    }
    if (text.size() > (1u << 20) &&
        text.size() / std::max<std::size_t>(stored, 1) > kMostInflationRatio) {
      refuse(name, std::string("entry '") + shown(stat.name) + "' inflates more than " +
                       std::to_string(kMostInflationRatio) +
                       " times its stored size: a zip bomb, not a model");
    }
  }
  return text;
}

bool isSymbolicLink(zip_t* archive, zip_uint64_t index) {
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) != 0) return false;
  return system == ZIP_OPSYS_UNIX && S_ISLNK(attributes >> 16);
}

}  // namespace

bool isZipArchive(std::string_view bytes) {
  return bytes.starts_with(std::string_view("PK\3\4", 4)) ||
         bytes.starts_with(std::string_view("PK\5\6", 4));
}

ArchivedDocument modelDocumentOf(std::string_view bytes, const std::string& name,
                                 std::size_t mostBytes) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  if (source == nullptr) throw std::bad_alloc();
  Archive archive(zip_open_from_source(source, ZIP_RDONLY, &error));
  if (!archive) {
    zip_source_free(source);
    const std::string why = zip_error_strerror(&error);
    zip_error_fini(&error);
    refuse(name, "is no zip archive libzip can read: " + why);
  }
  zip_error_fini(&error);
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  if (count < 0 || static_cast<std::size_t>(count) > kMostArchiveEntries) {
    refuse(name, "holds more than " + std::to_string(kMostArchiveEntries) + " entries");
  }
  ArchivedDocument found;
  // Entries may overlap in the archive (a bomb's trick): what they inflate
  // to all together is bounded too.
  std::size_t inflated = 0;
  for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
    zip_stat_t stat;
    if (zip_stat_index(archive.get(), i, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
      refuse(name, "has an entry without a name");
    }
    const std::string entry = shown(stat.name);
    const std::string_view path(stat.name);
    if (path.empty() || path.back() == '/') continue;  // a folder
    if (path.front() == '/' || path.find("..") != std::string_view::npos) {
      found.skipped.push_back(entry + ": a path outside the archive's own folder, not read");
      continue;
    }
    if (isSymbolicLink(archive.get(), i)) {
      found.skipped.push_back(entry + ": a symbolic link, not followed");
      continue;
    }
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
      found.skipped.push_back(entry + ": encrypted");
      continue;
    }
    std::string text = inflate(archive.get(), i, stat, name, mostBytes);
    inflated += text.size();
    if (inflated > 2 * mostBytes) {
      refuse(name, "inflates past " + std::to_string((2 * mostBytes) >> 20) + " MiB in all");
    }
    if (!looksLikeXmi(text)) {
      found.skipped.push_back(entry + ": no XMI (diagrams or the tool's own data)");
    } else if (text.size() > found.text.size()) {
      if (!found.entry.empty()) found.skipped.push_back(found.entry + ": a smaller XMI document");
      found.entry = entry;
      found.text = std::move(text);
    } else {
      found.skipped.push_back(entry + ": a smaller XMI document");
    }
  }
  if (found.entry.empty()) refuse(name, "holds no XMI document");
  return found;
}

}  // namespace model::xmi
