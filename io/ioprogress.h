// ProgressRecord: the progress and cancel record handed by reference to every reader, writer and
// encoder.
#pragma once

#include <cstdint>
#include <functional>

namespace quirelle {

class TImageIO;

// Called as notify(sender, percent).
using TIEProgressEvent = std::function<void(TImageIO* sender, int32_t percent)>;

struct ProgressRecord {
    TIEProgressEvent ProgressNotify;  // counts as assigned when not empty
    TImageIO* ProgressSender = nullptr;
    int32_t UnitsDone = 0;            // set and used by the callee
    double PercentPerUnit = 0;        // 100 / number of units; set by the callee
    uint8_t* CancelFlag = nullptr;    // readers set it on bad data; encoders stop while it is set

    bool Cancelled() const { return CancelFlag && *CancelFlag; }
    void Cancel() const {
        if (CancelFlag) *CancelFlag = 1;
    }
    void Notify(int32_t percent) const {
        if (ProgressNotify) ProgressNotify(ProgressSender, percent);
    }
};

}  // namespace quirelle
