#include "acquire/iexAcquire.h"

#include <cstdio>
#include <memory>

namespace quirelle {

namespace {

const char* ApiText(TIEAcquireApi api) {
    switch (api) {
        case ieaTwain: return "TWN";
        case ieaWia: return "WIA";
        case ieaDCIM: return "DCM";
        default: return "---";
    }
}

const char* KindText(TIEAcquireKind kind) {
    switch (kind) {
        case iedkScanner: return "SCN";
        case iedkCamera: return "CAM";
        case iedkDrive: return "DRV";
        default: return "---";
    }
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool ParseIndex(const std::string& text, int& value) {
    if (text.empty()) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > 2147483647LL) return false;
    }
    value = static_cast<int>(text[0] == '-' ? -v : v);
    return true;
}

}  // namespace

std::string AcquireSourceToRaw(const TIEAcquireSource& source) {
    return source.Name + "||" + source.Id + "||" + ApiText(source.Api) + "||" + KindText(source.Kind);
}

bool IsRawAcquireSource(const std::string& raw) {
    const size_t n = raw.size();
    return n >= 12 && raw.compare(n - 5, 2, "||") == 0 && raw.compare(n - 10, 2, "||") == 0;
}

TIEAcquireSource AcquireSourceFromRaw(const std::string& raw) {
    TIEAcquireSource source;
    if (!IsRawAcquireSource(raw)) return source;
    const size_t n = raw.size();
    const std::string kind = Upper(raw.substr(n - 3));
    const std::string api = Upper(raw.substr(n - 8, 3));
    const std::string head = raw.substr(0, n - 10);
    const size_t split = head.find("||");
    if (split == std::string::npos) return source;  // invalid raw string
    const std::string name = head.substr(0, split), id = head.substr(split + 2);
    TIEAcquireSource parsed;
    parsed.Name = name;
    parsed.Kind = kind == "SCN" ? iedkScanner : kind == "CAM" ? iedkCamera : kind == "DRV" ? iedkDrive : iedkUnknown;
    int index = 0;
    if (api == "TWN" || api == "WIA") {
        if (!ParseIndex(id, index)) return source;
        parsed.Api = api == "TWN" ? ieaTwain : ieaWia;
        parsed.Id = std::to_string(index);
    } else if (api == "DCM") {
        parsed.Api = ieaDCIM;
        parsed.Id = id;
    } else {
        return source;
    }
    return parsed;
}

TIEAcquireUi& AcquireUi() {
    static TIEAcquireUi ui;
    return ui;
}

TIEAcquireParams::TIEAcquireParams(TImageIO& owner) : owner_(owner) { selected_.Api = ieaTwain; }

std::vector<std::string> TIEAcquireParams::ListSources(uint8_t apis, bool namesOnly) {
    if (apis == 0) apis = 7;
    std::vector<TIEAcquireSource> sources;
    // The back ends add their sources here, TWAIN first, then WIA, then camera folders; none is
    // built in yet.
    (void)owner_;
    std::vector<std::string> list;
    for (const TIEAcquireSource& s : sources) list.push_back(namesOnly ? s.Name : AcquireSourceToRaw(s));
    return list;
}

bool TIEAcquireParams::SetSource(TIEAcquireApi api, const std::string& id) {
    selected_.Api = api;
    selected_.Id = id;
    // No back end holds a source of that id yet.
    return false;
}

bool TIEAcquireParams::SetSourceFromRaw(const std::string& raw) {
    const TIEAcquireSource source = AcquireSourceFromRaw(raw);
    return SetSource(source.Api, source.Id);
}

bool TIEAcquireParams::SelectSource(uint8_t apis) {
    if (apis == 0) apis = 7;
    const std::vector<std::string> sources = ListSources(apis, false);
    if (sources.empty()) {
        if (AcquireUi().ShowError)
            AcquireUi().ShowError(kNoAcquireDevicesText);
        else
            std::fprintf(stderr, "%s\n", kNoAcquireDevicesText);
        return false;
    }
    const std::string current = AcquireSourceToRaw(selected_);
    int preselected = -1;
    for (size_t i = 0; i < sources.size(); ++i)
        if (sources[i] == current) preselected = static_cast<int>(i);
    const int chosen = AcquireUi().ChooseSource ? AcquireUi().ChooseSource(sources, preselected) : -1;
    if (chosen < 0 || chosen >= static_cast<int>(sources.size())) return false;
    return SetSourceFromRaw(sources[static_cast<size_t>(chosen)]);
}

bool TIEAcquireParams::AcquireInto(TIEBitmap&, TIOParamsVals&, bool, const TIEProgressEvent&) {
    Aborting = false;
    // No back end can deliver an image yet.
    return false;
}

void IEInstallAcquisition() {
    IEAcquireFactory = [](TImageIO& owner) { return std::make_unique<TIEAcquireParams>(owner); };
}

}  // namespace quirelle
