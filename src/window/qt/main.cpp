#include "convert_window.h"
#include "open_map.h"
#include "standard_streams.h"
#include "startup.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

constexpr const char* kNoDisplay =
    "quillmere-tile-converter: cannot open its window, since there is no display to show it "
    "on; to convert maps without one, use quillmere-tiles.\n";

// While Qt looks for a display, its complaints are held back; if it finds none, one plain
// sentence replaces its own fatal error.
QtMessageHandler previousHandler = nullptr;
QList<std::tuple<QtMsgType, QString>> heldBack;

void holdBackStartupMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        const bool noDisplay =
            std::any_of(heldBack.cbegin(), heldBack.cend(), [](const auto& held) {
                return std::get<1>(held).contains(QStringLiteral("display"), Qt::CaseInsensitive);
            });
        if (noDisplay)
            std::fputs(kNoDisplay, stderr);
        else
            std::fprintf(stderr, "quillmere-tile-converter: cannot open its window: %s\n",
                         qPrintable(message));
        std::fflush(stderr);
        std::_Exit(1);
    }
    heldBack.append({type, message});
}

// Runs a task once the window's first frame is on the screen, so the task does not delay it.
class AfterFirstFrame : public QObject {
public:
    AfterFirstFrame(QWidget* window, std::function<void()> task)
        : QObject(window), task_(std::move(task)) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Queued, so that it runs after the painted frame has been flushed.
            QTimer::singleShot(0, this, [this] { task_(); });
        }
        return false;
    }

private:
    std::function<void()> task_;
};

// Decoding the icon means a look through Qt's image plugins: after the first frame, not before.
void setWindowIcon() {
    QIcon icon;
    for (int size : {16, 32, 64, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

#ifdef QUILLMERE_FIRST_FRAME_HOOK
// For the start-up benchmark's build only: prints when the first frame was shown (steady clock,
// in nanoseconds) and leaves at once.
void reportFirstFrame() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    std::printf(
        "first-frame %lld\n",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
    std::fflush(stdout);
    std::_Exit(0);
}
#endif

} // namespace

int main(int argc, char** argv) {
    quillmere::files::holdClosedStandardStreams();
    quillmere::nameApplication();
    // The usual start has no arguments and is spared a second application object.
    const QString map = argc > 1 ? quillmere::answerCommandLine(argc, argv) : QString();

    previousHandler = qInstallMessageHandler(holdBackStartupMessages);
    QApplication application(argc, argv);
    qInstallMessageHandler(previousHandler);
    for (const auto& [type, message] : heldBack)
        qt_message_output(type, QMessageLogContext(), message);
    heldBack.clear();

    quillmere::Convert window;
    if (!map.isEmpty())
        quillmere::openMap(window, map);
    new AfterFirstFrame(&window, [] {
#ifdef QUILLMERE_FIRST_FRAME_HOOK
        if (qEnvironmentVariableIsSet("QUILLMERE_REPORT_FIRST_FRAME"))
            reportFirstFrame();
#endif
        setWindowIcon();
    });
    window.show();
    return QApplication::exec();
}
