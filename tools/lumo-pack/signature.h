// Signatures of installers that the common signature tools of Linux check:
// Ed25519 keys and signatures in the minisign file formats. A signature is
// made over the BLAKE2b-512 digest of the file, and a second signature
// covers that one and a trusted comment, so the comment (product, version,
// file name, time) cannot be changed without the secret key.
//
//   NAME.pub    untrusted comment line, base64("Ed" key-id[8] public-key[32])
//   NAME.key    untrusted comment line, base64("Ed" kdf[2] "B2" salt[32]
//               opslimit[8] memlimit[8] key-id[8] secret-key[64] checksum[32])
//   FILE.minisig untrusted comment line, base64("ED" key-id[8] signature[64]),
//               "trusted comment: TEXT", base64(signature over signature+TEXT)
//
// Secret keys are written without a password (kdf "\0\0") so that a build
// can sign unattended; the file's mode 0600 is what protects them.
#pragma once

#include <stdexcept>
#include <string>

namespace lumo_pack {

struct SignatureError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A secret key read and checked, ready to sign with.
class SecretKey {
 public:
  static SecretKey load(const std::string& path);
  SecretKey(const SecretKey&) = delete;
  SecretKey& operator=(const SecretKey&) = delete;
  SecretKey(SecretKey&& other) noexcept;
  ~SecretKey();

  // Writes FILE.minisig beside the file (replacing one that is there) with
  // `trustedComment`, one line.
  void sign(const std::string& file, const std::string& trustedComment) const;
  // The key's identity as minisign prints it: 16 upper-case hex digits.
  std::string id() const;

 private:
  SecretKey() = default;
  unsigned char keyId_[8]{};
  unsigned char secret_[64]{};
};

// Writes NAME.key (mode 0600) and NAME.pub for a new key pair. Neither file
// may exist already: a key that signed releases is never overwritten.
void generateKeyPair(const std::string& name);

// Checks `signature` (normally FILE.minisig) over `file` with the public
// key in `publicKey`. Returns the trusted comment; throws SignatureError
// saying why the signature does not hold.
std::string verifySignature(const std::string& publicKey, const std::string& file, const std::string& signature);

// The trusted comment for `file`: its name and the time of signing, and for
// an installer the product name and version its script declares.
std::string trustedCommentFor(const std::string& file);

}  // namespace lumo_pack
