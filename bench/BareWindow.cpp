// The floor of the start-up, idle and stall figures: a bare Qt Widgets window
// of the application window's size showing one label, nothing else.
//
//   tolvarine-bench-bare                    runs until it is ended
//   tolvarine-bench-bare --probe-seconds N  prints "stall <worst ms>" after N seconds of a stall probe, then quits
//
// With TOLVARINE_BENCH_PAINT_CLASS=QLabel it reports its first paint (FirstPaintProbe.cpp).

#include "StallProbe.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int probeSeconds = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--probe-seconds") == 0)
            probeSeconds = std::atoi(argv[i + 1]);
    }

    QWidget window;
    window.resize(840, 720);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Tolvarine Desktop")));
    window.show();

    // The probe's 10 ms timer would be most of an idle window's cost: it runs
    // only when asked for, so the idle floor is the window's own.
    std::optional<StallProbe> probe;
    if (probeSeconds > 0) {
        probe.emplace();
        QTimer::singleShot(probeSeconds * 1000, &app, [&] {
            std::printf("stall %.3f\n", probe->worstTurnMs());
            std::fflush(stdout);
            app.quit();
        });
    }
    return app.exec();
}
