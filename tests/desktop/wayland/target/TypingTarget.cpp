// A native window for the Wayland tests: a focused line edit that prints its whole text, one
// line per change, so a test sees exactly what arrived.
#include <QApplication>
#include <QLineEdit>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLineEdit edit;
    QObject::connect(&edit, &QLineEdit::textChanged, [](const QString& text) {
        std::printf("text:%s\n", text.toUtf8().toHex().constData());
        std::fflush(stdout);
    });
    edit.resize(400, 60);
    edit.show();
    edit.activateWindow();
    std::printf("shown\n");
    std::fflush(stdout);
    return app.exec();
}
