// Times the application catalogue and icon rendering on 150 generated desktop entries in a
// private XDG_DATA_DIRS. Prints p50/p99 per operation. With a display (or QT_QPA_PLATFORM) it
// runs with a QGuiApplication, so icons go through Qt's icon theme; otherwise headless.
#include "actions/platform/linux/Applications.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kEntries = 150;
constexpr int kRounds = 200;

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

/// 150 entries (every tenth hidden from menus), a PNG icon in hicolor and an SVG by path.
void makeCatalogue(const QString& root) {
    QDir().mkpath(root + QStringLiteral("/icons/hicolor/48x48/apps"));
    QImage png(48, 48, QImage::Format_ARGB32);
    png.fill(QColor(200, 40, 40, 200));
    png.save(root + QStringLiteral("/icons/hicolor/48x48/apps/bench-png.png"));
    writeFile(
        root + QStringLiteral("/icons/hicolor/index.theme"),
        "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Threshold\n");
    const QString svg = root + QStringLiteral("/bench.svg");
    writeFile(svg, "<svg xmlns='http://www.w3.org/2000/svg' width='32' height='32'>"
                   "<circle cx='16' cy='16' r='12' fill='#36c'/></svg>");
    for (int index = 0; index < kEntries; ++index) {
        const QByteArray number = QByteArray::number(index).rightJustified(3, '0');
        const QByteArray icon = index % 2 ? QByteArray("bench-png") : svg.toUtf8();
        const QByteArray hidden = index % 10 == 9 ? "NoDisplay=true\n" : "";
        writeFile(root + QStringLiteral("/applications/bench-%1.desktop").arg(QString::fromLatin1(number)),
                  "[Desktop Entry]\nType=Application\nName=Bench App " + number +
                      "\nExec=/bin/true\nIcon=" + icon + "\n" + hidden);
    }
}

void report(const char* name, const std::function<bool()>& operation) {
    std::vector<double> micros;
    QElapsedTimer timer;
    for (int round = 0; round < kRounds; ++round) {
        timer.start();
        const bool ok = operation();
        micros.push_back(double(timer.nsecsElapsed()) / 1000.0);
        if (!ok) {
            std::printf("%-28s FAILED\n", name);
            return;
        }
    }
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) { return micros[std::min(micros.size() - 1, size_t(q * micros.size()))]; };
    std::printf("%-28s %10.1f %10.1f %10.1f\n", name, at(0.5), at(0.99), micros.back());
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root;
    makeCatalogue(root.path());
    // Before anything reads them: GIO keeps the first values it sees.
    qputenv("XDG_DATA_DIRS", root.path().toUtf8());
    qputenv("XDG_DATA_HOME", (root.path() + QStringLiteral("/home-data")).toUtf8());
    const bool gui =
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    std::unique_ptr<QCoreApplication> app =
        gui ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);

    hb::actions::LinuxApplications apps;
    std::printf("%d entries, %d rounds, %s\n", kEntries, kRounds, gui ? "QGuiApplication" : "headless");
    std::printf("%-28s %10s %10s %10s\n", "operation (µs)", "p50", "p99", "max");
    report("listApps", [&] { return apps.listApps().size() == kEntries - kEntries / 10; });
    report("iconPNG (PNG by theme)",
           [&] { return apps.iconPNG(QStringLiteral("Bench App 001")).has_value(); });
    report("iconPNG (SVG by path)",
           [&] { return apps.iconPNG(QStringLiteral("Bench App 002")).has_value(); });
    report("iconPNG (unknown name)", [&] { return !apps.iconPNG(QStringLiteral("Nope")).has_value(); });
    return 0;
}
