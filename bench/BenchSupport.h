#pragma once
// Small pieces shared by the benchmarks.
#include "core/HandOff.h"

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

/// Key chords go to whatever has the focus: true only inside the private test desktop
/// (tests/desktop.sh); elsewhere says so on stderr.
inline bool onTestDesktop() {
    if (!qEnvironmentVariableIsEmpty("HB_TEST_DESKTOP"))
        return true;
    std::fprintf(stderr, "run inside tests/desktop.sh\n");
    return false;
}

} // namespace hb::bench
