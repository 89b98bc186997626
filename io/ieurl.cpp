#include "io/ieurl.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

#include "io/ieengine.h"
#include "io/ieformats.h"
#include "io/imageio.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"

namespace quirelle {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void GlobalCurlInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlEasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct CurlListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct Transfer {
    TMemoryStream* out;
    const TIEUrlRequest* request;
    CURL* curl;
    bool tooLarge = false;
    bool cancelled = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (t->request->CancelFlag && *t->request->CancelFlag) {
        t->cancelled = true;
        return 0;
    }
    if (t->out->Size() + static_cast<int64_t>(bytes) > t->request->MaxBytes) {
        t->tooLarge = true;
        return 0;
    }
    if (t->out->Write(data, static_cast<int64_t>(bytes)) != static_cast<int64_t>(bytes)) return 0;
    if (t->request->Progress) {
        curl_off_t length = -1;
        if (curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0)
            t->request->Progress(static_cast<int32_t>(std::min<int64_t>(100, t->out->Size() * 100 / length)));
    }
    return bytes;
}

}  // namespace

bool IEParseUrl(const std::string& url, TIEUrlParts& parts, std::string& error) {
    parts = TIEUrlParts{};
    const std::string lower = Lower(url);
    struct Scheme {
        const char* prefix;
        const char* name;
        int32_t port;
    };
    static constexpr Scheme kSchemes[] = {{"http://", "http", 80}, {"https://", "https", 443}, {"ftp://", "ftp", 21}};
    size_t rest = std::string::npos;
    for (const Scheme& s : kSchemes) {
        if (lower.rfind(s.prefix, 0) == 0) {
            parts.Scheme = s.name;
            parts.Port = s.port;
            rest = std::char_traits<char>::length(s.prefix);
            break;
        }
    }
    if (rest == std::string::npos) {
        error = "only http, https and ftp addresses can be loaded";
        return false;
    }
    const size_t slash = url.find('/', rest);
    std::string hostPart = url.substr(rest, slash == std::string::npos ? std::string::npos : slash - rest);
    parts.Path = slash == std::string::npos ? "/" : url.substr(slash);
    const size_t at = hostPart.rfind('@');
    if (at != std::string::npos) {
        const std::string credentials = hostPart.substr(0, at);
        const size_t colon = credentials.find(':');
        if (colon == std::string::npos) {
            error = "the address gives a user name without a password";
            return false;
        }
        parts.HasCredentials = true;
        parts.User = credentials.substr(0, colon);
        parts.Password = credentials.substr(colon + 1);
        hostPart.erase(0, at + 1);
    }
    // A bracketed IPv6 literal keeps its colons.
    const size_t bracket = hostPart.rfind(']');
    const size_t portColon = hostPart.rfind(':');
    if (portColon != std::string::npos && (bracket == std::string::npos || portColon > bracket)) {
        const std::string port = hostPart.substr(portColon + 1);
        const bool numeric = !port.empty() && port.size() <= 5 &&
                             std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); });
        parts.Port = numeric ? std::stoi(port) : 80;
        hostPart.erase(portColon);
    }
    parts.Host = hostPart;
    if (parts.Host.empty()) {
        error = "the address names no host";
        return false;
    }
    return true;
}

std::string IEUrlForDisplay(const TIEUrlParts& parts) {
    return parts.Scheme + "://" + parts.Host + ":" + std::to_string(parts.Port) + parts.Path;
}

bool IEDownloadUrl(const std::string& url, const TIEUrlRequest& request, TMemoryStream& out,
                   std::string& contentTypeHint, std::string& error) {
    contentTypeHint.clear();
    TIEUrlParts parts;
    if (!IEParseUrl(url, parts, error)) return false;
    GlobalCurlInit();
    std::unique_ptr<CURL, CurlEasyDeleter> curl(curl_easy_init());
    if (!curl) {
        error = "the internet functions could not be started";
        return false;
    }
    CURL* c = curl.get();
    const std::string target = IEUrlForDisplay(parts);
    char errorBuffer[CURL_ERROR_SIZE] = {};
    Transfer transfer{&out, &request, c};
    std::unique_ptr<curl_slist, CurlListDeleter> headers;
    curl_easy_setopt(c, CURLOPT_URL, target.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Mozilla/4.*");
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 65536L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
    // A server that stops sending ends the download instead of hanging the load.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
    if (parts.HasCredentials) {
        curl_easy_setopt(c, CURLOPT_USERNAME, parts.User.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, parts.Password.c_str());
    }
    if (!request.ProxyAddress.empty()) {
        curl_easy_setopt(c, CURLOPT_PROXY, request.ProxyAddress.c_str());
        if (!request.ProxyUser.empty()) {
            curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, request.ProxyUser.c_str());
            curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, request.ProxyPassword.c_str());
        }
    } else {
        curl_easy_setopt(c, CURLOPT_PROXY, "");  // direct, whatever the environment says
    }
    if (parts.Scheme != "ftp") {
        curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        // Always a fresh copy: nothing cached on the way is used or kept.
        curl_slist* list = curl_slist_append(nullptr, "Cache-Control: no-cache");
        if (list) list = curl_slist_append(list, "Pragma: no-cache");
        headers.reset(list);
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    }
    // The server's certificate and host name are checked.
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!request.CaFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, request.CaFile.c_str());

    const CURLcode result = curl_easy_perform(c);
    if (result != CURLE_OK) {
        const std::string detail = errorBuffer[0] ? errorBuffer : curl_easy_strerror(result);
        if (transfer.cancelled)
            error = "the download was cancelled";
        else if (transfer.tooLarge)
            error = IEFormat("the download is larger than %lld bytes", static_cast<long long>(request.MaxBytes));
        else if (result == CURLE_PEER_FAILED_VERIFICATION)
            error = "the server's certificate was not accepted (" + detail + ")";
        else
            error = detail;
        return false;
    }
    const char* contentType = nullptr;
    if (curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType) {
        std::string type = Lower(contentType);
        type = type.substr(0, type.find(';'));
        const size_t slash = type.find('/');
        if (slash != std::string::npos) contentTypeHint = type.substr(slash + 1);
        while (!contentTypeHint.empty() && std::isspace(static_cast<unsigned char>(contentTypeHint.back())))
            contentTypeHint.pop_back();
    }
    out.Seek(0, soBeginning);
    return true;
}

void TImageIO::LoadUrl(const std::string& url) {
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kPath, [=, this] { LoadUrl(url); });
        return;
    }
    IEInitializeEngine();
    LastError.clear();
    TIEUrlRequest request;
    request.ProxyAddress = ProxyAddress;
    request.ProxyUser = ProxyUser;
    request.ProxyPassword = ProxyPassword;
    request.CaFile = UrlCaFile;
    CancelRequested = 0;
    request.CancelFlag = &CancelRequested;
    request.Progress = [this](int32_t percent) { ReportProgress(this, percent); };
    TMemoryStream body;
    std::string hint, error;
    TIEUrlParts parts;
    std::string shown = url;
    if (std::string parseError; IEParseUrl(url, parts, parseError)) shown = IEUrlForDisplay(parts);
    if (!IEDownloadUrl(url, request, body, hint, error)) {
        CancelRequested = 1;
        LastError = IEFormat("Cannot load \"%s\": %s", shown.c_str(), error.c_str());
        ReportFinish();
        return;
    }
    // The content decides; the reply's content type helps when the content says nothing.
    int32_t formatId = DetectStreamFormat(body);
    if ((formatId == 0 || !FormatRegistryFind(formatId)) && !hint.empty()) formatId = FormatIdFromExtension(hint);
    if (formatId != 0)
        LoadStreamOfFormat(body, formatId);
    else
        LoadStream(body);
}

}  // namespace quirelle
