// A native window for the Wayland tests: a focused line edit that prints its whole text, one
// line per change, so a test sees exactly what arrived.
#include <QApplication>
#include <QLineEdit>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each line reaches the test at once
    QLineEdit edit;
    QObject::connect(&edit, &QLineEdit::textChanged, [](const QString& text) {
        std::printf("text:%s\n", text.toUtf8().toHex().constData());
    });
    edit.resize(400, 60);
    edit.show();
    edit.activateWindow();
    std::printf("shown\n");
    return app.exec();
}
