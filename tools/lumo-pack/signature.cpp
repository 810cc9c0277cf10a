#include "signature.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "formats/resource_bundle.h"
#include "platform/atomic_file.h"
#include "platform/text.h"

namespace lumo_pack {
namespace {

constexpr std::string_view kCommentPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kSignatureSuffix = ".minisig";
constexpr char kAlgorithm[] = "Ed";        // Ed25519 over the file itself (read, never written)
constexpr char kHashedAlgorithm[] = "ED";  // Ed25519 over the file's BLAKE2b-512 digest
constexpr char kNoKdf[] = "\0\0";
constexpr char kScryptKdf[] = "Sc";
constexpr char kChecksumAlgorithm[] = "B2";
constexpr std::size_t kIdBytes = 8;
constexpr std::size_t kSaltBytes = 32;
constexpr std::size_t kPublicKeyFileBytes = 2 + kIdBytes + crypto_sign_PUBLICKEYBYTES;
constexpr std::size_t kChecksumBytes = crypto_generichash_BYTES;
constexpr std::size_t kSecretKeyFileBytes =
    2 + 2 + 2 + kSaltBytes + 8 + 8 + kIdBytes + crypto_sign_SECRETKEYBYTES + kChecksumBytes;
constexpr std::size_t kSignatureLineBytes = 2 + kIdBytes + crypto_sign_BYTES;
constexpr std::size_t kDigestBytes = crypto_generichash_BYTES_MAX;  // BLAKE2b-512
// The installer's script and the [var] keys that name what it installs.
constexpr const char* kScriptType = "INI";
constexpr std::uint32_t kScriptId = 800;

using Bytes = std::vector<unsigned char>;

void initialise() {
  if (sodium_init() < 0) throw SignatureError("the cryptography library cannot start");
}

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string base64(const unsigned char* data, std::size_t size) {
  std::string out(sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
  out.resize(std::strlen(out.c_str()));
  return out;
}

std::optional<Bytes> fromBase64(std::string_view text) {
  Bytes out(text.size());
  std::size_t size = 0;
  if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &size, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0)
    return std::nullopt;
  out.resize(size);
  return out;
}

// A key's identity as the signature tools print it: the eight bytes read as
// a little-endian number, in hex.
std::string idText(const unsigned char* id) {
  std::uint64_t value = 0;
  for (std::size_t i = kIdBytes; i-- > 0;) value = value << 8 | id[i];
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIX64, value);
  return text;
}

std::string readText(const std::string& path, const char* what) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw SignatureError(systemError("cannot read the " + std::string(what) + " " + path));
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

// The lines of a key or signature file, without line ends ("\r\n" too).
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with('\r')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The base64 line after the untrusted comment of a key file, decoded.
Bytes keyFileBytes(const std::string& path, const char* what, std::size_t size) {
  std::vector<std::string> lines = linesOf(readText(path, what));
  if (lines.size() < 2 || !lines[0].starts_with(kCommentPrefix))
    throw SignatureError(path + " is not a " + what + " file (no untrusted comment line)");
  std::optional<Bytes> bytes = fromBase64(lumo::trim(lines[1]));
  if (!bytes || bytes->size() != size) throw SignatureError(path + " is not a " + what + " file (wrong key line)");
  return *bytes;
}

struct PublicKey {
  unsigned char id[kIdBytes];
  unsigned char key[crypto_sign_PUBLICKEYBYTES];
};

PublicKey loadPublicKey(const std::string& path) {
  Bytes bytes = keyFileBytes(path, "public key", kPublicKeyFileBytes);
  if (std::memcmp(bytes.data(), kAlgorithm, 2) != 0) throw SignatureError(path + ": not an Ed25519 public key");
  PublicKey key;
  std::memcpy(key.id, bytes.data() + 2, kIdBytes);
  std::memcpy(key.key, bytes.data() + 2 + kIdBytes, sizeof key.key);
  return key;
}

void checksum(unsigned char* out, const unsigned char* id, const unsigned char* secret) {
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, kChecksumBytes);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(kAlgorithm), 2);
  crypto_generichash_update(&state, id, kIdBytes);
  crypto_generichash_update(&state, secret, crypto_sign_SECRETKEYBYTES);
  crypto_generichash_final(&state, out, kChecksumBytes);
}

// The BLAKE2b-512 digest of the whole file, read in blocks.
void fileDigest(const std::string& path, unsigned char* digest) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw SignatureError(systemError("cannot read " + path));
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, kDigestBytes);
  std::vector<char> buffer(1 << 20);
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (std::streamsize got = file.gcount(); got > 0)
      crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(buffer.data()),
                                static_cast<unsigned long long>(got));
  }
  if (file.bad() || !file.eof()) throw SignatureError(systemError("cannot read " + path));
  crypto_generichash_final(&state, digest, kDigestBytes);
}

// Creates `path` exclusively with `content` and `mode`.
void createExclusively(const std::string& path, const std::string& content, mode_t mode) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0) {
    if (errno == EEXIST) throw SignatureError(path + " exists already; a key is never overwritten");
    throw SignatureError(systemError("cannot create " + path));
  }
  bool ok = ::fchmod(fd, mode) == 0 && lumo::writeAll(fd, content) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    int saved = errno;
    ::unlink(path.c_str());
    errno = saved;
    throw SignatureError(systemError("cannot write " + path));
  }
}

// The value of `key` in the [var] section of a script's text.
std::string scriptVariable(std::string_view script, std::string_view key) {
  bool inVariables = false;
  while (!script.empty()) {
    std::size_t end = script.find('\n');
    std::string_view line = lumo::trim(script.substr(0, end));
    script.remove_prefix(end == std::string_view::npos ? script.size() : end + 1);
    if (line.starts_with('[')) {
      inVariables = lumo::equalsIgnoreCase(line, "[var]");
      continue;
    }
    std::size_t equals = line.find('=');
    if (inVariables && equals != std::string_view::npos && lumo::equalsIgnoreCase(lumo::trim(line.substr(0, equals)), key))
      return std::string(lumo::trim(line.substr(equals + 1)));
  }
  return {};
}

// A trusted comment is one line: the tools read it up to the line's end.
std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

SecretKey SecretKey::load(const std::string& path) {
  initialise();
  Bytes bytes = keyFileBytes(path, "secret key", kSecretKeyFileBytes);
  const unsigned char* at = bytes.data();
  if (std::memcmp(at, kAlgorithm, 2) != 0) throw SignatureError(path + ": not an Ed25519 secret key");
  if (std::memcmp(at + 2, kScryptKdf, 2) == 0)
    throw SignatureError(path + ": the key is protected by a password; lumo-pack signs unattended and needs a key "
                                "without one (remove the password, or make a key with lumo-pack keygen)");
  if (std::memcmp(at + 2, kNoKdf, 2) != 0 || std::memcmp(at + 4, kChecksumAlgorithm, 2) != 0)
    throw SignatureError(path + ": unknown secret key format");
  at += 2 + 2 + 2 + kSaltBytes + 8 + 8;
  SecretKey key;
  std::memcpy(key.keyId_, at, kIdBytes);
  std::memcpy(key.secret_, at + kIdBytes, sizeof key.secret_);
  // Keys written without a password by minisign carry no checksum (all
  // zeros); the secret half must still make the public half it holds.
  const unsigned char* stored = at + kIdBytes + sizeof key.secret_;
  unsigned char expected[kChecksumBytes];
  checksum(expected, key.keyId_, key.secret_);
  bool sound = sodium_memcmp(expected, stored, kChecksumBytes) == 0 || sodium_is_zero(stored, kChecksumBytes);
  unsigned char derivedPublic[crypto_sign_PUBLICKEYBYTES];
  unsigned char derivedSecret[crypto_sign_SECRETKEYBYTES];
  crypto_sign_seed_keypair(derivedPublic, derivedSecret, key.secret_);
  sound = sound && sodium_memcmp(derivedSecret, key.secret_, sizeof derivedSecret) == 0;
  sodium_memzero(derivedSecret, sizeof derivedSecret);
  sodium_memzero(bytes.data(), bytes.size());
  if (!sound) throw SignatureError(path + ": the secret key is damaged (its checksum or its halves do not match)");
  return key;
}

SecretKey::SecretKey(SecretKey&& other) noexcept {
  std::memcpy(keyId_, other.keyId_, sizeof keyId_);
  std::memcpy(secret_, other.secret_, sizeof secret_);
  sodium_memzero(other.secret_, sizeof other.secret_);
}

SecretKey::~SecretKey() { sodium_memzero(secret_, sizeof secret_); }

std::string SecretKey::id() const { return idText(keyId_); }

void SecretKey::sign(const std::string& file, const std::string& trustedComment) const {
  unsigned char digest[kDigestBytes];
  fileDigest(file, digest);

  unsigned char line[kSignatureLineBytes];
  std::memcpy(line, kHashedAlgorithm, 2);
  std::memcpy(line + 2, keyId_, kIdBytes);
  unsigned char* signature = line + 2 + kIdBytes;
  crypto_sign_detached(signature, nullptr, digest, sizeof digest, secret_);

  std::string comment = oneLine(trustedComment);
  Bytes global(signature, signature + crypto_sign_BYTES);
  global.insert(global.end(), comment.begin(), comment.end());
  unsigned char globalSignature[crypto_sign_BYTES];
  crypto_sign_detached(globalSignature, nullptr, global.data(), global.size(), secret_);

  std::string text = std::string(kCommentPrefix) + "signature from lumo-pack secret key " + id() + "\n" +
                     base64(line, sizeof line) + "\n" + std::string(kTrustedPrefix) + comment + "\n" +
                     base64(globalSignature, sizeof globalSignature) + "\n";
  std::string path = file + std::string(kSignatureSuffix);
  if (!lumo::replaceFileAtomically(path, text, 0644)) throw SignatureError(systemError("cannot write " + path));
}

void generateKeyPair(const std::string& name) {
  initialise();
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
  unsigned char id[kIdBytes];
  crypto_sign_keypair(publicKey, secretKey);
  randombytes_buf(id, sizeof id);

  Bytes secret;
  auto append = [&secret](const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    secret.insert(secret.end(), bytes, bytes + size);
  };
  append(kAlgorithm, 2);
  append(kNoKdf, 2);
  append(kChecksumAlgorithm, 2);
  // No password: salt and limits unused. Appended as bytes: GCC 12 at -O3
  // misjudges a resize of the vector here (-Warray-bounds).
  static constexpr unsigned char kUnused[kSaltBytes + 8 + 8] = {};
  append(kUnused, sizeof kUnused);
  append(id, sizeof id);
  append(secretKey, sizeof secretKey);
  unsigned char sum[kChecksumBytes];
  checksum(sum, id, secretKey);
  append(sum, sizeof sum);

  Bytes pub;
  pub.insert(pub.end(), kAlgorithm, kAlgorithm + 2);
  pub.insert(pub.end(), id, id + sizeof id);
  pub.insert(pub.end(), publicKey, publicKey + sizeof publicKey);

  std::string secretText = std::string(kCommentPrefix) + "lumo-pack secret key " + idText(id) +
                           " (no password: keep this file private)\n" + base64(secret.data(), secret.size()) + "\n";
  std::string publicText =
      std::string(kCommentPrefix) + "lumo-pack public key " + idText(id) + "\n" + base64(pub.data(), pub.size()) + "\n";
  sodium_memzero(secretKey, sizeof secretKey);
  sodium_memzero(secret.data(), secret.size());

  // The public key is only written once the secret one is safely there, so
  // a failure never leaves a public key whose secret is lost.
  std::string secretPath = name + ".key";
  std::string publicPath = name + ".pub";
  if (::access(publicPath.c_str(), F_OK) == 0) throw SignatureError(publicPath + " exists already; a key is never overwritten");
  createExclusively(secretPath, secretText, 0600);
  sodium_memzero(secretText.data(), secretText.size());
  try {
    createExclusively(publicPath, publicText, 0644);
  } catch (...) {
    ::unlink(secretPath.c_str());
    throw;
  }
}

std::string verifySignature(const std::string& publicKeyPath, const std::string& file, const std::string& signaturePath) {
  initialise();
  PublicKey key = loadPublicKey(publicKeyPath);
  std::vector<std::string> lines = linesOf(readText(signaturePath, "signature"));
  if (lines.size() < 4 || !lines[0].starts_with(kCommentPrefix) || !lines[2].starts_with(kTrustedPrefix))
    throw SignatureError(signaturePath + " is not a signature file");
  std::optional<Bytes> line = fromBase64(lumo::trim(lines[1]));
  std::optional<Bytes> global = fromBase64(lumo::trim(lines[3]));
  if (!line || line->size() != kSignatureLineBytes || !global || global->size() != crypto_sign_BYTES)
    throw SignatureError(signaturePath + " is not a signature file (wrong signature line)");
  if (std::memcmp(line->data() + 2, key.id, kIdBytes) != 0)
    throw SignatureError(signaturePath + " was made with the key " + idText(line->data() + 2) + ", not with " +
                         idText(key.id) + " of " + publicKeyPath);
  const unsigned char* signature = line->data() + 2 + kIdBytes;

  bool hashed = std::memcmp(line->data(), kHashedAlgorithm, 2) == 0;
  if (!hashed && std::memcmp(line->data(), kAlgorithm, 2) != 0)
    throw SignatureError(signaturePath + ": unknown signature algorithm");
  bool holds = false;
  if (hashed) {
    unsigned char digest[kDigestBytes];
    fileDigest(file, digest);
    holds = crypto_sign_verify_detached(signature, digest, sizeof digest, key.key) == 0;
  } else {
    std::string content = readText(file, "file");
    holds = crypto_sign_verify_detached(signature, reinterpret_cast<const unsigned char*>(content.data()),
                                        content.size(), key.key) == 0;
  }
  if (!holds) throw SignatureError(file + ": the signature does not match the file (it was changed after signing)");

  std::string comment = lines[2].substr(kTrustedPrefix.size());
  Bytes signedComment(signature, signature + crypto_sign_BYTES);
  signedComment.insert(signedComment.end(), comment.begin(), comment.end());
  if (crypto_sign_verify_detached(global->data(), signedComment.data(), signedComment.size(), key.key) != 0)
    throw SignatureError(signaturePath + ": the trusted comment was changed after signing");
  return comment;
}

std::string trustedCommentFor(const std::string& file) {
  std::string name = file.substr(file.rfind('/') + 1);
  std::string comment = "file:" + name + "\ttimestamp:" + std::to_string(std::time(nullptr));
  lumo::Result<lumo::ResourceBundle> bundle = lumo::ResourceBundle::open(file);
  if (!bundle) return oneLine(comment);
  std::optional<std::string> script = bundle->load(kScriptType, kScriptId);
  if (!script) return oneLine(comment);
  std::string text = lumo::gbkToUtf8(*script);
  std::string product = scriptVariable(text, "product_name");
  std::string version = scriptVariable(text, "app_version");
  return oneLine("product:" + product + "\tversion:" + version + "\t" + comment);
}

}  // namespace lumo_pack
