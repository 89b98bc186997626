// Program start-up: the application object, its title and the main window.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quirelle");
    QLabel window("Quirelle 5.0.1");
    window.setWindowTitle("Quirelle 5.0.1");
    window.setAlignment(Qt::AlignCenter);
    window.setFixedSize(861, 563);
    window.show();
    return app.exec();
}
