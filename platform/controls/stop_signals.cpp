// Stop signals close the window as its close button does.
#include "platform/controls/stop_signals.h"

#include "platform/base/strings_and_errors.h"

#include <QApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> StopSignals = {SIGTERM, SIGINT, SIGHUP};

// The pipe's ends, and the actions the handlers replaced.
int signalPipe[2] = {-1, -1};
struct sigaction replaced[StopSignals.size()];

extern "C" void NoteStopSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // Non-blocking: with the pipe full, a stop is noted already.
    [[maybe_unused]] const ssize_t wrote = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TStopSignals::TStopSignals(QWidget *window) : window_(window)
{
    if (signalPipe[0] >= 0) throw Exception(QStringLiteral("The stop signals are caught already"));
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Exception(QStringLiteral("Cannot catch the stop signals: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Stop(); });
    struct sigaction action {};
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < StopSignals.size(); ++i) ::sigaction(StopSignals[i], &action, &replaced[i]);
}

TStopSignals::~TStopSignals()
{
    for (std::size_t i = 0; i < StopSignals.size(); ++i) ::sigaction(StopSignals[i], &replaced[i], nullptr);
    notifier_.reset();
    for (int &end : signalPipe) {
        ::close(end);
        end = -1;
    }
}

void TStopSignals::Stop()
{
    unsigned char numbers[64];
    while (::read(signalPipe[0], numbers, sizeof numbers) > 0) {
    }
    // What a user would close first: the dialogs in front of the window.
    // A dialog that refuses is left to the window's own close, which ends
    // the message loops.
    for (int tries = 0; tries < 16; ++tries) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->close()) break;
    }
    if (window_) window_->close();
}
