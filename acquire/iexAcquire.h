// The acquisition front end: the sources of the back ends (TWAIN scanners, WIA devices, camera
// folders), the choice of one by the user, and acquiring into an I/O object's buffer. The user
// interface (the error message and the source list form) is reached through TIEAcquireUi, which
// the application fills in; a program without one reports on standard error and chooses nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "io/imageio.h"

namespace quirelle {

// Source API codes and device kinds.
enum TIEAcquireApi : uint8_t { ieaTwain = 0, ieaWia = 1, ieaDCIM = 2, ieaNone = 3 };
enum TIEAcquireKind : uint8_t { iedkUnknown = 0, iedkScanner = 1, iedkCamera = 2, iedkDrive = 3 };

struct TIEAcquireSource {
    TIEAcquireApi Api = ieaNone;
    std::string Id = "-1";  // the index in the back end's list, or the drive path
    std::string Name;
    TIEAcquireKind Kind = iedkUnknown;
};

// "Name||Id||API||KIND" with the API text TWN, WIA, DCM or --- and the kind text SCN, CAM, DRV
// or ---.
std::string AcquireSourceToRaw(const TIEAcquireSource& source);
// True for a string at least 12 characters long with "||" at the fixed places from its end.
bool IsRawAcquireSource(const std::string& raw);
// The source a raw string describes; the empty source when it is malformed.
TIEAcquireSource AcquireSourceFromRaw(const std::string& raw);

inline constexpr const char* kNoAcquireDevicesText = "No acquisition devices could be located on your computer.";

// What the acquisition front end asks of the user interface.
struct TIEAcquireUi {
    // Shows an error message box.
    std::function<void(const std::string& text)> ShowError;
    // Shows the source list (raw source strings) with one pre-selected (-1: none); returns the
    // chosen index, or -1 when the user cancelled.
    std::function<int(const std::vector<std::string>& rawSources, int preselected)> ChooseSource;
};
TIEAcquireUi& AcquireUi();

class TIEAcquireParams : public TIEAcquireBase {
public:
    explicit TIEAcquireParams(TImageIO& owner);

    bool SelectSource(uint8_t apis) override;
    bool AcquireInto(TIEBitmap& bitmap, TIOParamsVals& params, bool nativePixelFormat,
                     const TIEProgressEvent& progress) override;
    uint8_t SelectedApi() const override { return selected_.Api; }

    // Every source of the requested APIs (0 = all), TWAIN first, then WIA, then camera folders,
    // as raw strings or bare names.
    std::vector<std::string> ListSources(uint8_t apis, bool namesOnly);
    TIEAcquireSource CurrentSource() const { return selected_; }
    bool SetSourceFromRaw(const std::string& raw);
    bool SetSource(TIEAcquireApi api, const std::string& id);

    bool AskWiaItem = true;
    bool Aborting = false;

private:
    TImageIO& owner_;
    TIEAcquireSource selected_;
};

// Installs the acquisition front end as the factory of every I/O object's acquisition side.
void IEInstallAcquisition();

}  // namespace quirelle
