// Fetching images from http, https and ftp addresses into memory (libcurl). https always
// verifies the server's certificate and host name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quirelle {

class TMemoryStream;

// An address split into its parts: scheme "://" [user ":" password "@"] host [":" port] path.
struct TIEUrlParts {
    std::string Scheme;  // "http", "https" or "ftp"
    std::string Host;
    int32_t Port = 0;    // the scheme's default when none is given; 80 when it is not a number
    std::string Path;    // from the first "/" after the host ("/" when there is none)
    bool HasCredentials = false;
    std::string User, Password;
};

// Splits an address. False with a reason for an unsupported scheme, an empty host, or
// credentials without the ":" between user and password.
bool IEParseUrl(const std::string& url, TIEUrlParts& parts, std::string& error);

// The address as it may be shown in messages: without user and password.
std::string IEUrlForDisplay(const TIEUrlParts& parts);

struct TIEUrlRequest {
    std::string ProxyAddress, ProxyUser, ProxyPassword;  // no proxy when the address is empty
    std::string CaFile;                                  // trusted authorities; empty: the system's
    int64_t MaxBytes = int64_t{1} << 30;                 // larger bodies fail the download
    const uint8_t* CancelFlag = nullptr;                 // the download stops while it is non-zero
    std::function<void(int32_t percent)> Progress;       // received x 100 / content length
};

// Downloads the address into out. On success returns true and contentTypeHint holds the part of
// the reply's content type after "/" ("png" for "image/png"; empty when none). On failure returns
// false with a reason in error.
bool IEDownloadUrl(const std::string& url, const TIEUrlRequest& request, TMemoryStream& out,
                   std::string& contentTypeHint, std::string& error);

}  // namespace quirelle
