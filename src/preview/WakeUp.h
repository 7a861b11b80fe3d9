#pragma once

#include <QObject>

class QSocketNotifier;

// Wakes the GUI thread from any thread. The one place where the platform's wake-up
// (an eventfd on Linux, a pipe elsewhere) meets Qt's event loop. Unlike a queued Qt
// call, the hand-over is a system call that the thread sanitizer follows.
class WakeUp final : public QObject {
    Q_OBJECT
  public:
    explicit WakeUp(QObject* parent = nullptr);
    ~WakeUp() override;
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;

    // Any thread: woken() follows on the object's thread. Wakes that come together may
    // give one woken().
    void Wake();

    // For a callback that a library calls on its own threads: the descriptor to hand it
    // by value (-1 when there is none), and the wake through it, which touches no memory
    // of the object. The object must outlive the library's use of it.
    int Descriptor() const { return m_writeFd; }
    static void WakeThrough(int descriptor);

  signals:
    void woken();

  private:
    void Drain();

    int m_readFd = -1;
    int m_writeFd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
