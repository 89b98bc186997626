// Program start-up: the application object with its title, the Qt message queue for background
// notices, and the main window.
#include <QApplication>
#include <QIcon>

#include "acquire/iexAcquire.h"
#include "app/umain.h"
#include "io/ieengine.h"
#include "platform/gui/ieartwork.h"
#include "platform/gui/iemessagequeue_qt.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quirelle"));
    QApplication::setApplicationVersion(QStringLiteral("5.0.1"));
    QApplication::setWindowIcon(QIcon(quirelle::gui::RenderAppIcon(256)));
    quirelle::IEInitializeEngine();
    quirelle::IEInstallAcquisition();
    quirelle::gui::InstallQtMessageQueue();
    quirelle::Tmainform form;
    form.show();
    return app.exec();
}
