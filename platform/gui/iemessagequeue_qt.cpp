#include "platform/gui/iemessagequeue_qt.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace quirelle::gui {

void TQtMessageQueue::Post(TIEPostedMessage message) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        TIEMessageQueue::Post(std::move(message));
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [message = std::move(message)] {
            if (message.Handler) message.Handler(message);
        },
        Qt::QueuedConnection);
}

void InstallQtMessageQueue() {
    static TQtMessageQueue queue;
    IESetMainMessageQueue(&queue);
}

}  // namespace quirelle::gui
