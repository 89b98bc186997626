#include "io/imageio.h"

#include <algorithm>
#include <system_error>

#include "output/pdf/iepdfpages.h"
#include "output/postscript/iepsdoc.h"
#include "platform/ieexception.h"
#include "platform/iestreams.h"

namespace quirelle {

// =============================================================================================
// Workers

TIEIOThread::TIEIOThread(TImageIO& owner, Kind kind, std::function<void()> operation)
    : owner_(owner), kind_(kind), operation_(std::move(operation)) {}

void TIEIOThread::Start(TImageIO& owner, Kind kind, std::function<void()> operation) {
    auto* worker = new TIEIOThread(owner, kind, std::move(operation));
    {
        std::lock_guard<std::mutex> guard(owner.lock_);
        owner.workers_.push_back(worker);
        owner.idle_.Reset();
    }
    try {
        std::thread([worker] { worker->Run(); }).detach();
    } catch (const std::system_error&) {
        // No thread could be started: run the operation here instead.
        worker->Run();
    }
}

void TIEIOThread::Run() {
    {
        std::lock_guard<std::mutex> guard(owner_.lock_);
        threadId_ = std::this_thread::get_id();
    }
    try {
        operation_();
    } catch (...) {
        std::lock_guard<std::mutex> guard(owner_.lock_);
        owner_.CancelRequested = 1;
    }
    TImageIO& owner = owner_;
    {
        std::lock_guard<std::mutex> guard(owner.lock_);
        owner.workers_.erase(std::remove(owner.workers_.begin(), owner.workers_.end(), this), owner.workers_.end());
        if (owner.workers_.empty()) owner.idle_.Set();
    }
    delete this;
}

TIEAcquireFactory IEAcquireFactory;

// =============================================================================================
// Construction

TImageIO::TImageIO() : ownedBuffer_(std::make_unique<TIEBitmap>()), ownsBuffer_(true), alive_(std::make_shared<TImageIO*>(this)) {
    buffer_ = ownedBuffer_.get();
    params_ = std::make_unique<TIOParamsVals>(this);
}

TImageIO::TImageIO(TIEBitmap* buffer, IImageViewLink* view)
    : ownsBuffer_(buffer == nullptr), view_(view), alive_(std::make_shared<TImageIO*>(this)) {
    if (buffer) {
        buffer_ = buffer;
    } else {
        ownedBuffer_ = std::make_unique<TIEBitmap>();
        buffer_ = ownedBuffer_.get();
    }
    params_ = std::make_unique<TIOParamsVals>(this);
}

TImageIO::~TImageIO() {
    WaitForWorkers(false);
    // An open document is completed, also when the program ends in the middle of it. Errors
    // cannot be reported from here; the files are closed in any case.
    try {
        EndPsDocument();
    } catch (...) {
    }
    try {
        EndPdfDocument();
    } catch (...) {
    }
    alive_.reset();
    view_ = nullptr;
}

// =============================================================================================
// Supporting operations

bool TImageIO::PrepareBuffer(uint16_t allowedFormats) {
    if (!buffer_) return false;
    if (picture_ && !view_) buffer_->CopyFrom(*picture_);
    if (allowedFormats != 0) {
        const TIEPixelFormat format = buffer_->Format();
        if (format >= 16 || !(allowedFormats & (1u << format))) return false;
    }
    return true;
}

ProgressRecord TImageIO::PreparePage() {
    const TIEPixelFormat format = buffer_->Format();
    if (format != ie24RGB && format != ie1g && !buffer_->IsEmpty()) {
        if (!buffer_->ConvertFormat(ie24RGB))
            throw EIEException("Not enough memory to convert the image to 24-bit colour for the page.");
    }
    CancelRequested = 0;
    ProgressRecord progress;
    progress.ProgressNotify = [this](TImageIO* sender, int32_t percent) { ReportProgress(sender, percent); };
    progress.ProgressSender = this;
    progress.CancelFlag = &CancelRequested;
    return progress;
}

bool TImageIO::InWorkerThread() {
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> guard(lock_);
    for (const TIEIOThread* worker : workers_)
        if (worker->ThreadId() == self) return true;
    return false;
}

int32_t TImageIO::WorkerCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int32_t>(workers_.size());
}

void TImageIO::WaitForWorkers(bool cancel) {
    for (;;) {
        size_t count;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (cancel) CancelRequested = 1;
            count = workers_.size();
        }
        if (count == 0) return;
        idle_.Wait();
    }
}

bool TImageIO::UseBackground() { return !ownsBuffer_ && RunInBackground && !InWorkerThread(); }

bool TImageIO::PostToView(uint32_t message, int32_t param, std::function<void()> deliver) {
    if (!view_ || !view_->HasParentWindow() || !InWorkerThread()) return false;
    std::weak_ptr<TImageIO*> alive = alive_;
    TIEPostedMessage posted;
    posted.Message = message;
    posted.Param = param;
    posted.Handler = [alive, deliver = std::move(deliver)](const TIEPostedMessage&) {
        if (alive.lock()) deliver();
    };
    IEMainMessageQueue().Post(std::move(posted));
    return true;
}

void TImageIO::ReportProgress(TImageIO* sender, int32_t percent) {
    if (!OnProgress) return;
    if (PostToView(IEM_PROGRESS, percent, [this, sender, percent] {
            if (OnProgress) OnProgress(sender, percent);
        }))
        return;
    OnProgress(sender, percent);
}

void TImageIO::ReportFinish() {
    ReportProgress(this, 100);
    if (!OnFinishWork) return;
    if (PostToView(IEM_FINISHWORK, 0, [this] {
            if (OnFinishWork) OnFinishWork(this);
        }))
        return;
    OnFinishWork(this);
}

// =============================================================================================
// Acquisition

TIEAcquireBase* TImageIO::AcquireParams() {
    if (!acquire_ && IEAcquireFactory) acquire_ = IEAcquireFactory(*this);
    return acquire_.get();
}

bool TImageIO::SelectAcquireSource(uint8_t apis) {
    TIEAcquireBase* acquire = AcquireParams();
    return acquire && acquire->SelectSource(apis);
}

bool TImageIO::Acquire(bool resetParams) {
    if (acquiring_) return true;  // an acquisition is already open
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kFlag, [this, resetParams] { Acquire(resetParams); });
        return true;
    }
    CancelRequested = 0;
    TIEAcquireBase* acquire = AcquireParams();
    if (!buffer_ || !acquire) {
        ReportFinish();
        return false;
    }
    if (resetParams) params_->ResetParams();
    acquiring_ = true;
    bool acquired = false;
    try {
        acquired = acquire->AcquireInto(*buffer_, *params_, params_->NativePixelFormat,
                                        [this](TImageIO* sender, int32_t percent) { ReportProgress(sender, percent); });
    } catch (...) {
        acquiring_ = false;
        ReportFinish();
        throw;
    }
    acquiring_ = false;
    if (acquired && view_) {
        view_->BeginUpdate();
        view_->SetDpiX(params_->ResolutionX);
        view_->SetDpiY(params_->ResolutionY);
        view_->EndUpdate();
        if (!PostToView(IEM_UPDATEVIEW, 0, [view = view_] { view->Update(); })) view_->Update();
    }
    ReportFinish();
    return acquired;
}

// =============================================================================================
// PostScript documents

void TImageIO::BeginPsDocument(const std::filesystem::path& path) {
    CancelRequested = 0;
    // Beginning a second document completes the first rather than abandoning it.
    if (psState_ || psStream_) EndPsDocument();
    auto stream = std::make_unique<TIEWideFileStream>(path, ieCreateAlways);
    psState_ = PsOpenDocument(*stream, *params_);
    psStream_ = std::move(stream);
}

void TImageIO::AddPsPage() {
    if (!psState_ || !psStream_) return;
    if (!PrepareBuffer(0)) return;
    ProgressRecord progress = PreparePage();
    PsAppendPage(*psState_, *psStream_, *buffer_, *params_, progress);
}

void TImageIO::EndPsDocument() {
    // The state and the file are released in every case, also when the trailer cannot be written.
    std::unique_ptr<TIEWideFileStream> stream = std::move(psStream_);
    std::unique_ptr<PsDocState> state = std::move(psState_);
    if (state && stream) PsCloseDocument(state, *stream);
}

void TImageIO::SaveSinglePage(TStream& stream, TIESinglePageWriter writer) {
    CancelRequested = 0;
    struct Finish {
        TImageIO& io;
        ~Finish() {
            try {
                io.ReportFinish();
            } catch (...) {
            }
        }
    } finish{*this};
    if (!PrepareBuffer(0)) return;
    ProgressRecord progress = PreparePage();
    writer(stream, *buffer_, *params_, progress);
}

void TImageIO::SavePsToStream(TStream& stream) {
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kStream, [this, &stream] { SavePsToStream(stream); });
        return;
    }
    SaveSinglePage(stream, PsWriteSinglePage);
}

void TImageIO::SaveToNewFile(const std::filesystem::path& path, TIESinglePageWriter writer, int32_t formatId) {
    {
        TIEWideFileStream file(path, ieCreateAlways);
        try {
            SaveSinglePage(file, writer);
        } catch (...) {
            // A document that could not be completed is not left behind half written (only a
            // regular file is removed: a device such as /dev/stdout stays).
            std::error_code ec;
            if (std::filesystem::is_regular_file(path, ec)) std::filesystem::remove(path, ec);
            throw;
        }
    }
    params_->SourcePath = path;
    params_->FormatId = formatId;
}

void TImageIO::SavePsToFile(const std::filesystem::path& path) {
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kPath, [this, path] { SavePsToFile(path); });
        return;
    }
    SaveToNewFile(path, PsWriteSinglePage, 17);
}

// =============================================================================================
// PDF documents

void TImageIO::BeginPdfDocument(const std::filesystem::path& path) {
    CancelRequested = 0;
    // Beginning a second document completes the first rather than abandoning it.
    if (pdfState_ || pdfStream_) EndPdfDocument();
    auto stream = std::make_unique<TIEWideFileStream>(path, ieCreateAlways);
    pdfState_ = PdfOpenDocument();
    pdfStream_ = std::move(stream);
}

void TImageIO::AddPdfPage() {
    if (!pdfState_ || !pdfStream_) return;
    if (!PrepareBuffer(0)) return;
    ProgressRecord progress = PreparePage();
    PdfAppendImagePage(*pdfState_, *buffer_, *params_, progress);
}

void TImageIO::EndPdfDocument() {
    std::unique_ptr<TIEWideFileStream> stream = std::move(pdfStream_);
    std::unique_ptr<PdfDocState> state = std::move(pdfState_);
    if (state && stream) PdfCloseDocument(state, *stream, *params_);
}

void TImageIO::SavePdfToStream(TStream& stream) {
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kStream, [this, &stream] { SavePdfToStream(stream); });
        return;
    }
    SaveSinglePage(stream, PdfWriteSinglePage);
}

void TImageIO::SavePdfToFile(const std::filesystem::path& path) {
    if (UseBackground()) {
        TIEIOThread::Start(*this, TIEIOThread::kPath, [this, path] { SavePdfToFile(path); });
        return;
    }
    SaveToNewFile(path, PdfWriteSinglePage, 18);
}

}  // namespace quirelle
