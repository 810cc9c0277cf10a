// HTTP for reports and downloads, and handing an address to the desktop's
// web browser.
//
// Both "http" and "https" addresses are fetched, and redirects may lead
// from one to the other. Certificates are checked against the system's
// trusted authorities and the host name, as the transport does by default.
//
// Addresses travel as the Windows Internet functions send them: the program
// never encodes its own values, and at the transport every character that a
// URL cannot carry (control characters, blanks, bytes outside ASCII, and
// " < > \ ^ ` { | }) is percent-encoded as UTF-8 bytes. A "%" is sent as it
// stands, so an address that is encoded already reaches the server unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumo {

// The silent fetch of a report: each connect attempt may take this long, and
// a host that cannot be reached is tried this many times in all. (The
// Windows option that sets the number is called a retry count, but it counts
// every attempt, the first one included.)
inline constexpr long kConnectTimeoutMs = 6000;
inline constexpr int kConnectAttempts = 2;

struct FetchOptions {
  std::string userAgent;
  long connectTimeoutMs = kConnectTimeoutMs;
  int connectAttempts = kConnectAttempts;
};

struct FetchResult {
  int connectAttempts = 0;   // connect attempts made
  bool connected = false;    // a connection to the server was made
  long status = 0;           // HTTP status of the response; 0 when none came
  std::int64_t elapsedMs = 0;
  // Why a secure (https) connection was refused, for example a certificate
  // that does not check out; empty when none was refused.
  std::string secureChannelError;
};

// Sends one GET and waits for the response headers; the body is not read.
// Every network failure is reported in the result only. Throws
// std::runtime_error when no HTTP session can be made at all.
FetchResult silentGet(std::string_view url, const FetchOptions& options);

// What a downloaded file is for: installers must be executable.
enum class DownloadedFile { Data, Program };

// Downloads `url` to `path`, replacing what is there. The file appears only
// when the whole body arrived with a success status; a failed download
// leaves nothing at `path` that it did not find there. Redirects are followed.
// When a secure connection was refused, `secureChannelError` (if given)
// receives why.
bool downloadToFile(std::string_view url, const std::string& path, DownloadedFile kind,
                    std::string* secureChannelError = nullptr);

// True when the file at `path` belongs to the user this program runs as.
// Downloads land in the temporary folder, which other users may share: a
// file someone else left there is never taken for one of ours.
bool ownedByThisUser(const std::string& path);

// Hands the address to the desktop's opener (xdg-open, found on PATH) and
// returns without waiting for it; the child is reaped in the background.
// Returns false when the opener could not be started.
bool openAddress(std::string_view url);

// The address as it goes on the wire (see above).
std::string transportUrl(std::string_view url);

// The running executable's file name, the name this program gives itself
// (for example as its user agent).
std::string applicationName();

}  // namespace lumo
