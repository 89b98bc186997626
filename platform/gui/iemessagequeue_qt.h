// The user-interface thread's message queue on Qt: posted notices run on the event loop.
#pragma once

#include "platform/iethreads.h"

namespace quirelle::gui {

class TQtMessageQueue : public TIEMessageQueue {
public:
    void Post(TIEPostedMessage message) override;
};

// Installs the Qt queue as the engine's main queue for the life of the application.
void InstallQtMessageQueue();

}  // namespace quirelle::gui
