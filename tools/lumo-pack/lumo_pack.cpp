// lumo-pack: builds installers from a program and a set of resources.
//
//   lumo-pack --list INSTALLER
//   lumo-pack --verify [-p KEY.pub [-x SIGNATURE]] INSTALLER
//   lumo-pack BASE -o OUT [--set TYPE:ID=FILE ...] [-k KEY.key [-t COMMENT]]
//   lumo-pack keygen -o NAME
//   lumo-pack sign -k KEY.key [-t COMMENT] FILE...
//   lumo-pack lint [--json] SCRIPT|OFFERS.xml...
//   lumo-pack init DIR
//   lumo-pack build DIR -o OUT [--base PROGRAM] [-k KEY.key [-t COMMENT]]
//   lumo-pack verbs --markdown
//
// OUT is the program of BASE with the resources of BASE, each --set adding
// or replacing one. OUT is written beside itself under a temporary name and
// renamed into place, so a failed run never leaves a half-written installer.
// The payload (DATA 900) that goes into OUT is unpacked in full first by the
// installer's decoder; one that does not unpack soundly is refused.
// A script given as INI 800 is linted first: an error refuses the installer.
// With -k the new installer is signed (OUT.minisig); the key is read before
// anything is packed, so a wrong key costs no build.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands/families.h"
#include "formats/resource_bundle.h"
#include "lint.h"
#include "payload_proof.h"
#include "product.h"
#include "verbs_markdown.h"
#include "platform/atomic_file.h"
#include "platform/file_handles.h"
#include "signature.h"

namespace {

constexpr const char* kUsage =
    "usage: lumo-pack --list INSTALLER\n"
    "       lumo-pack --verify [-p KEY.pub [-x SIGNATURE]] INSTALLER\n"
    "       lumo-pack BASE -o OUT [--set TYPE:ID=FILE ...] [-k KEY.key [-t COMMENT]]   (TYPE: INI, DATA, PNG, ICON)\n"
    "       lumo-pack keygen -o NAME        (writes NAME.key and NAME.pub)\n"
    "       lumo-pack sign -k KEY.key [-t COMMENT] FILE...   (writes FILE.minisig)\n"
    "       lumo-pack lint [--json] SCRIPT|OFFERS.xml...\n"
    "       lumo-pack init DIR              (DIR/install.ini, DIR/theme.ini and DIR/payload/ of a new product)\n"
    "       lumo-pack build DIR -o OUT [--base PROGRAM] [-k KEY.key [-t COMMENT]]   (payload, skin, lint, installer)\n"
    "       lumo-pack verbs --markdown      (every verb of the script language, as docs/verbs.md)\n"
    "       lumo-pack --help | --version\n"
    "\n"
    "The installer reads INI 800 (the script), DATA 900 (the payload), PNG and PNG2X 1020-1057 (the skin) and\n"
    "ICON 128 (the icon). An installer with a script is packed only with every image of its windows and the icon;\n"
    "--incomplete packs one without them (for tests).\n";
constexpr const char* kTypes[] = {"INI", "DATA", "PNG", "PNG2X", "ICON"};
constexpr std::size_t kBlock = 1 << 20;
// The payload that Out unpacks; other DATA resources are plain bytes.
constexpr const char* kPayloadType = "DATA";
constexpr std::uint32_t kPayloadId = 900;
constexpr std::uint32_t kScriptId = 800;

// The resources the installer reads; it never looks at any other.
struct ReadResource {
  const char* type;
  std::uint32_t first, last;
};
constexpr ReadResource kReadResources[] = {{"INI", 800, 800}, {"DATA", 900, 900}, {"PNG", 1020, 1057}, {"PNG2X", 1020, 1057}, {"ICON", 128, 128}};
constexpr const char* kReadResourcesText =
    "INI 800 (the script), DATA 900 (the payload), PNG 1020-1057 (the skin), PNG2X 1020-1057 (the skin at 2x) and ICON 128 (the icon)";

// The images the windows load, and the icon: without one a window lacks a
// part (without 1027 the wizard has no install button).
constexpr std::uint32_t kWindowImages[] = {1020, 1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030,
                                           1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038, 1039, 1040, 1041,
                                           1042, 1043, 1044, 1045, 1046, 1052, 1053, 1054, 1056, 1057};
constexpr std::uint32_t kIconId = 128;

struct PackError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

struct Replacement {
  std::string type;
  std::uint32_t id = 0;
  std::string file;
};

Replacement parseSet(const std::string& text) {
  std::size_t colon = text.find(':');
  std::size_t equals = text.find('=');
  if (colon == std::string::npos || equals == std::string::npos || equals < colon)
    throw PackError("--set wants TYPE:ID=FILE, not \"" + text + "\"");
  Replacement r;
  r.type = text.substr(0, colon);
  std::string id = text.substr(colon + 1, equals - colon - 1);
  r.file = text.substr(equals + 1);
  bool knownType = false;
  for (const char* type : kTypes) knownType = knownType || r.type == type;
  if (!knownType) throw PackError("unknown resource type \"" + r.type + "\" (INI, DATA, PNG, PNG2X or ICON)");
  if (id.empty() || id.size() > 10 || id.find_first_not_of("0123456789") != std::string::npos ||
      std::stoull(id) > UINT32_MAX)
    throw PackError("resource id \"" + id + "\" is not a number");
  r.id = static_cast<std::uint32_t>(std::stoull(id));
  bool read = false;
  for (const ReadResource& resource : kReadResources)
    read = read || (r.type == resource.type && r.id >= resource.first && r.id <= resource.last);
  if (!read)
    throw PackError("the installer never reads " + r.type + " " + id + "; it reads " + kReadResourcesText);
  if (r.file.empty()) throw PackError("--set " + text + ": no file named");
  return r;
}

lumo::ResourceBundle openSound(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw PackError(systemError("cannot open " + path));
  if (S_ISDIR(st.st_mode)) throw PackError(path + " is a folder, not an installer");
  if (!S_ISREG(st.st_mode)) throw PackError(path + " is not a regular file, not an installer");
  // A file that cannot be read is no damaged installer.
  if (lumo::ReadOnlyFile readable(path); readable.get() < 0) throw PackError(lumo::cannotOpenText(path));
  lumo::Result<lumo::ResourceBundle> bundle = lumo::ResourceBundle::open(path);
  if (!bundle) throw PackError(bundle.why() + "; refusing to use it");
  if (lumo::Result<void> verified = bundle->verifyAll(); !verified)
    throw PackError(path + ": damaged resource bundle: " + verified.why() + "; refusing to use it");
  return std::move(*bundle);
}

bool isProgram(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char magic[4] = {};
  const bool elf = ::pread(fd, magic, sizeof magic, 0) == 4 && std::memcmp(magic, "\x7f" "ELF", 4) == 0;
  ::close(fd);
  return elf;
}

// An installer carries resources; a file without any is something else. A
// bare program lists as an installer of no resources.
lumo::ResourceBundle openInstaller(const std::string& path, bool programWithoutResources = false) {
  lumo::ResourceBundle bundle = openSound(path);
  if (bundle.entries().empty() && !(programWithoutResources && isProgram(path)))
    throw PackError(path + " is not an installer: it carries no resources");
  return bundle;
}

int list(const std::string& path) {
  lumo::ResourceBundle bundle = openInstaller(path, true);
  for (const lumo::ResourceEntry& entry : bundle.entries())
    std::printf("%s %" PRIu32 " %" PRIu64 "\n", entry.type.c_str(), entry.id, entry.size);
  return 0;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The payload in the file on `fd` must unpack soundly.
void provePayloads(int fd, const std::vector<lumo::ResourceEntry>& entries, const std::string& name) {
  for (const lumo::ResourceEntry& entry : entries) {
    if (entry.type != kPayloadType || entry.id != kPayloadId) continue;
    if (std::optional<std::string> why = lumo_pack::provePayload(fd, entry.offset, entry.size))
      throw PackError(name + ": DATA " + std::to_string(entry.id) + ": " + *why);
  }
}

// The signature first when a public key is given, then every resource
// against its CRC, then every payload unpacked in full.
int verify(const std::string& path, const std::string& publicKey, const std::string& signature) {
  if (!publicKey.empty()) {
    std::string comment = lumo_pack::verifySignature(publicKey, path, signature.empty() ? path + ".minisig" : signature);
    std::printf("%s: signed; trusted comment: %s\n", path.c_str(), comment.c_str());
  }
  lumo::ResourceBundle bundle = openInstaller(path);
  Fd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) throw PackError(systemError("cannot open " + path));
  provePayloads(in.get(), bundle.entries(), path);
  std::printf("%s: sound\n", path.c_str());
  return 0;
}

void writeOrThrow(int fd, std::string_view data, const std::string& out) {
  if (!lumo::writeAll(fd, data)) throw PackError(systemError("cannot write " + out));
}

// Copies `size` bytes from `in` at `offset` (or to its end when size is
// unset) to `out`, returning the count and the CRC-32 of what was copied.
std::pair<std::uint64_t, std::uint32_t> copyBytes(int in, std::uint64_t offset, std::optional<std::uint64_t> size,
                                                  int out, const std::string& inName, const std::string& outName,
                                                  std::string& buffer) {
  std::uint64_t done = 0;
  std::uint32_t crc = 0;
  while (!size || done < *size) {
    std::size_t want = size ? std::min<std::uint64_t>(*size - done, buffer.size()) : buffer.size();
    ssize_t n = ::pread(in, buffer.data(), want, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw PackError(systemError("cannot read " + inName));
    if (n == 0) {
      if (size) throw PackError(inName + " ended early");
      break;
    }
    crc = lumo::crc32Update(crc, buffer.data(), static_cast<std::size_t>(n));
    writeOrThrow(out, std::string_view(buffer.data(), static_cast<std::size_t>(n)), outName);
    done += static_cast<std::uint64_t>(n);
  }
  return {done, crc};
}

// The installer would meet a fault of its script only on a user's machine;
// refusing to pack it is the last moment it can be found.
void lintEmbeddedScripts(const std::vector<Replacement>& sets) {
  for (const Replacement& set : sets) {
    if (set.type != "INI" || set.id != kScriptId) continue;
    std::vector<lumo::LintFinding> findings = lumo::lintScript(set.file);
    for (const lumo::LintFinding& finding : findings) std::fprintf(stderr, "%s\n", lumo::formatFinding(finding).c_str());
    if (lumo::hasErrors(findings))
      throw PackError(set.file + ": " + lumo::formatCount(findings) + "; no installer written");
  }
}

// An installer with a script shows windows; each needs its images and the
// program its icon. Names what is missing.
void requireWindowImages(const lumo::ResourceBundle& base, const std::vector<Replacement>& sets, const std::string& out) {
  auto carries = [&](const std::string& type, std::uint32_t id) {
    for (const Replacement& set : sets)
      if (set.type == type && set.id == id) return true;
    for (const lumo::ResourceEntry& entry : base.entries())
      if (entry.type == type && entry.id == id) return true;
    return false;
  };
  if (!carries("INI", kScriptId)) return;
  std::string missing;
  for (std::uint32_t id : kWindowImages)
    if (!carries("PNG", id)) missing += (missing.empty() ? "PNG " : ", ") + std::to_string(id);
  if (!carries("ICON", kIconId)) missing += std::string(missing.empty() ? "" : "; ") + "ICON 128";
  if (!missing.empty())
    throw PackError(out + " would show its windows without images or icon (missing: " + missing +
                    "); draw them with lumo-skin OUTDIR and add them with --set PNG:ID=OUTDIR/ID.png and "
                    "--set ICON:128=OUTDIR/icon.ico, or pass --incomplete for a test installer");
}

// A base is a program (an ELF file) or an installer.
void requireProgram(const std::string& path) {
  if (!isProgram(path)) throw PackError(path + " is not a program or an installer (no ELF header)");
}

int pack(const std::string& basePath, const std::string& outPath, const std::vector<Replacement>& sets,
         const lumo_pack::SecretKey* key, const std::string& comment, bool incomplete = false) {
  for (std::size_t i = 0; i < sets.size(); ++i)
    for (std::size_t j = i + 1; j < sets.size(); ++j)
      if (sets[i].type == sets[j].type && sets[i].id == sets[j].id)
        throw PackError("resource " + sets[i].type + ":" + std::to_string(sets[i].id) + " is set twice");
  lintEmbeddedScripts(sets);

  lumo::ResourceBundle base = openSound(basePath);
  requireProgram(basePath);
  if (!incomplete) requireWindowImages(base, sets, outPath);
  Fd baseFd(::open(basePath.c_str(), O_RDONLY | O_CLOEXEC));
  if (baseFd.get() < 0) throw PackError(systemError("cannot open " + basePath));

  std::string tempPath = outPath + ".lumo-pack-XXXXXX";
  int rawOut = ::mkostemp(tempPath.data(), O_CLOEXEC);
  if (rawOut < 0) throw PackError(systemError("cannot create a file beside " + outPath));
  Fd out(rawOut);
  try {
    std::string buffer(kBlock, '\0');
    std::uint32_t programCrc = copyBytes(baseFd.get(), 0, base.programSize(), out.get(), basePath, outPath, buffer).second;
    std::uint64_t position = base.programSize();

    // The resources of the base in their order, replaced where --set names
    // them; new ones follow in the order given.
    struct Source {
      std::string type;
      std::uint32_t id;
      const lumo::ResourceEntry* fromBase;
      const Replacement* fromFile;
    };
    std::vector<Source> sources;
    std::vector<bool> used(sets.size(), false);
    for (const lumo::ResourceEntry& entry : base.entries()) {
      Source source{entry.type, entry.id, &entry, nullptr};
      for (std::size_t i = 0; i < sets.size(); ++i)
        if (sets[i].type == entry.type && sets[i].id == entry.id) {
          source.fromBase = nullptr;
          source.fromFile = &sets[i];
          used[i] = true;
        }
      sources.push_back(source);
    }
    for (std::size_t i = 0; i < sets.size(); ++i)
      if (!used[i]) sources.push_back({sets[i].type, sets[i].id, nullptr, &sets[i]});

    std::vector<lumo::ResourceEntry> entries;
    for (const Source& source : sources) {
      lumo::ResourceEntry entry;
      entry.type = source.type;
      entry.id = source.id;
      entry.offset = position;
      if (source.fromBase) {
        auto [size, crc] = copyBytes(baseFd.get(), source.fromBase->offset, source.fromBase->size, out.get(),
                                     basePath, outPath, buffer);
        if (crc != source.fromBase->crc) throw PackError(basePath + ": resource " + entry.type + " " +
                                                         std::to_string(entry.id) + " changed while being read");
        entry.size = size;
        entry.crc = crc;
      } else {
        Fd in(::open(source.fromFile->file.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (in.get() < 0 || ::fstat(in.get(), &st) != 0) throw PackError(systemError("cannot open " + source.fromFile->file));
        if (!S_ISREG(st.st_mode)) throw PackError(source.fromFile->file + " is not a regular file");
        auto [size, crc] = copyBytes(in.get(), 0, std::nullopt, out.get(), source.fromFile->file, outPath, buffer);
        entry.size = size;
        entry.crc = crc;
      }
      position += entry.size;
      entries.push_back(std::move(entry));
    }
    std::string directory = lumo::encodeBundleDirectory(entries, base.programSize(), programCrc, position);
    writeOrThrow(out.get(), directory, outPath);
    provePayloads(out.get(), entries, outPath);
    if (::fchmod(out.get(), 0755) != 0) throw PackError(systemError("cannot make " + outPath + " executable"));
    if (::fsync(out.get()) != 0) throw PackError(systemError("cannot write " + outPath));
    if (::rename(tempPath.c_str(), outPath.c_str()) != 0) throw PackError(systemError("cannot replace " + outPath));
  } catch (...) {
    ::unlink(tempPath.c_str());
    throw;
  }
  if (key) key->sign(outPath, comment.empty() ? lumo_pack::trustedCommentFor(outPath) : comment);
  return 0;
}

int keygen(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[0] != "-o" || args[1].empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  lumo_pack::generateKeyPair(args[1]);
  std::printf("%s.key: secret key (keep it private)\n%s.pub: public key\n", args[1].c_str(), args[1].c_str());
  return 0;
}

int sign(const std::vector<std::string>& args) {
  std::string keyPath, comment;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-k" && i + 1 < args.size()) {
      keyPath = args[++i];
    } else if (args[i] == "-t" && i + 1 < args.size()) {
      comment = args[++i];
    } else if (!args[i].starts_with("-")) {
      files.push_back(args[i]);
    } else {
      keyPath.clear();
      break;
    }
  }
  if (keyPath.empty() || files.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  lumo_pack::SecretKey key = lumo_pack::SecretKey::load(keyPath);
  for (const std::string& file : files) key.sign(file, comment.empty() ? lumo_pack::trustedCommentFor(file) : comment);
  return 0;
}

std::uint64_t fileSize(const std::string& path) {
  std::error_code code;
  const std::uintmax_t size = std::filesystem::file_size(path, code);
  return code ? 0 : size;
}

std::string megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

// lumo-pack build DIR -o OUT: the payload and the skin made in a folder of
// their own, then packed like any installer (lint and payload proof included).
int build(const std::vector<std::string>& args) {
  std::string dir, out, base, keyPath, comment;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      out = args[++i];
    } else if (args[i] == "--base" && i + 1 < args.size()) {
      base = args[++i];
    } else if (args[i] == "-k" && i + 1 < args.size()) {
      keyPath = args[++i];
    } else if (args[i] == "-t" && i + 1 < args.size()) {
      comment = args[++i];
    } else if (dir.empty() && !args[i].starts_with("-")) {
      dir = args[i];
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (dir.empty() || out.empty() || (keyPath.empty() && !comment.empty())) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (base.empty()) {
    // The stripped default installer when it is there, else the bare program.
    for (const char* name : {"LumoInstaller", "lumo-installer-program"}) {
      const std::string candidate = lumo_pack::programFolder() + "/" + name;
      if (::access(candidate.c_str(), R_OK) == 0) {
        base = candidate;
        break;
      }
    }
    if (base.empty())
      throw PackError("no installer program beside " + lumo_pack::programFolder() + "/lumo-pack; name one with --base");
  }
  std::optional<lumo_pack::SecretKey> key;
  if (!keyPath.empty()) key.emplace(lumo_pack::SecretKey::load(keyPath));

  const char* tmp = std::getenv("TMPDIR");
  std::string work = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumo-pack-build-XXXXXX";
  if (!::mkdtemp(work.data())) throw PackError(systemError("cannot create a work folder"));
  struct RemoveWork {
    std::string path;
    ~RemoveWork() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  } removeWork{work};

  const lumo_pack::PreparedProduct product = lumo_pack::prepareProduct(dir, work);
  std::vector<Replacement> sets;
  for (const std::string& set : product.sets) sets.push_back(parseSet(set));
  pack(base, out, sets, key ? &*key : nullptr, comment);
  const std::uint64_t size = fileSize(out);
  lumo::Result<lumo::ResourceBundle> built = lumo::ResourceBundle::open(out);
  std::printf("%s: installer of %s, %" PRIu64 " bytes (%s): program %s, payload %s, script, %zu images and icon\n",
              out.c_str(), product.name.c_str(), size, megabytes(size).c_str(),
              megabytes(built ? built->programSize() : size).c_str(),
              megabytes(fileSize(product.payload)).c_str(), sets.size() - 3);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  lumo::commands::registerCommandFamilies();
  try {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
      std::printf("lumo-pack %s\n", LUMO_VERSION);
      return 0;
    }
    if (args.size() == 2 && args[0] == "--list") return list(args[1]);
    if (!args.empty() && args[0] == "init") {
      if (args.size() != 2 || args[1].starts_with("-")) {
        std::fputs(kUsage, stderr);
        return 2;
      }
      lumo_pack::initProduct(args[1]);
      std::printf("%s: install.ini (fill in the [var] keys product_name, main_program, product_folder, feedback_url), "
                  "theme.ini (name and colours of the windows), payload/ (copy the product's files here); then "
                  "lumo-pack build %s -o OUT\n",
                  args[1].c_str(), args[1].c_str());
      return 0;
    }
    if (!args.empty() && args[0] == "build") return build({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "verbs") {
      if (args.size() != 2 || args[1] != "--markdown") {
        std::fputs(kUsage, stderr);
        return 2;
      }
      std::fputs(lumo_pack::verbsMarkdown().c_str(), stdout);
      return 0;
    }
    if (!args.empty() && args[0] == "--verify") {
      std::string publicKey, signature, installer;
      for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "-p" && i + 1 < args.size()) {
          publicKey = args[++i];
        } else if (args[i] == "-x" && i + 1 < args.size()) {
          signature = args[++i];
        } else if (installer.empty() && !args[i].starts_with("-")) {
          installer = args[i];
        } else {
          installer.clear();
          break;
        }
      }
      if (installer.empty() || (publicKey.empty() && !signature.empty())) {
        std::fputs(kUsage, stderr);
        return 2;
      }
      return verify(installer, publicKey, signature);
    }
    if (!args.empty() && args[0] == "lint") return lumo::lintMain({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "keygen") return keygen({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "sign") return sign({args.begin() + 1, args.end()});
    std::string base, out, keyPath, comment;
    std::vector<Replacement> sets;
    bool incomplete = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "--incomplete") {
        incomplete = true;
      } else if (args[i] == "-o" && i + 1 < args.size()) {
        out = args[++i];
      } else if (args[i] == "-k" && i + 1 < args.size()) {
        keyPath = args[++i];
      } else if (args[i] == "-t" && i + 1 < args.size()) {
        comment = args[++i];
      } else if (args[i] == "--set" && i + 1 < args.size()) {
        sets.push_back(parseSet(args[++i]));
      } else if (base.empty() && !args[i].starts_with("-")) {
        base = args[i];
      } else {
        std::fputs(kUsage, stderr);
        return 2;
      }
    }
    if (base.empty() || out.empty() || (keyPath.empty() && !comment.empty())) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    std::optional<lumo_pack::SecretKey> key;
    if (!keyPath.empty()) key.emplace(lumo_pack::SecretKey::load(keyPath));
    return pack(base, out, sets, key ? &*key : nullptr, comment, incomplete);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "lumo-pack: %s\n", error.what());
    return 1;
  }
}
