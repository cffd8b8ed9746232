#pragma once
// Small pieces shared by the benchmarks.
#include "core/HandOff.h"

#include <QFile>
#include <QObject>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace hb::bench {

/// Runs `make` on a fresh thread with its own event loop; the object is deleted there at the end.
template <typename T> class OnThread {
  public:
    template <typename F> explicit OnThread(F make) {
        anchor_.moveToThread(&thread_);
        thread_.start();
        callOn(&anchor_, [&] { object_ = make(); });
    }
    ~OnThread() {
        callOn(&anchor_, [this] { delete object_; });
        thread_.quit();
        thread_.wait();
    }
    template <typename F> auto call(F f) {
        decltype(f(*object_)) result{};
        callOn(&anchor_, [&] { result = f(*object_); });
        return result;
    }

  private:
    QThread thread_;
    QObject anchor_;
    T* object_ = nullptr;
};

/// The value below which a share `p` of `values` lies.
inline double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

/// Resident memory of process `pid` (this one when 0) in KiB; -1 when unknown.
inline long residentKiB(qint64 pid = 0) {
    QFile status(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

/// Key chords go to whatever has the focus: true only inside the private test desktop
/// (tests/desktop.sh); elsewhere says so on stderr.
inline bool onTestDesktop() {
    if (!qEnvironmentVariableIsEmpty("HB_TEST_DESKTOP"))
        return true;
    std::fprintf(stderr, "run inside tests/desktop.sh\n");
    return false;
}

} // namespace hb::bench
