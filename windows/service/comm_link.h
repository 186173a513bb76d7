// The link between the UPS object and whatever answers it: the serial port, the demo file.
// The UPS object only ever sees this base; what a link learns it reports through the owner's
// CommNotify, which the UPS object turns into a message on its own window.
#pragma once

#include <atomic>

#include "ups_lib/platform/events.h"

namespace torvane {

// lParam values of a link notification.
enum CommNotifyCode : int {
    kCommConnected = 1,     // first complete reply after silence
    kCommDisconnected = 2,  // the link itself counted too many misses
    kCommDataReady = 3,     // wParam: bytes waiting
    kCommNoReply = 4,       // nothing came within the wait
    kCommOpenFailed = 5,    // the port could not be opened
};

// Reading modes of a link.
enum CommReadingMode : int {
    kReadEventDriven = 0,  // Q1: a reply ends at the event character
    kReadPolled = 1,       // SEC: replies carry their length, the reader looks every 500 ms
};

// Where a link's notifications go. The UPS object implements it by posting to its window, so
// a link never runs UPS code on its own thread.
class CommNotifySink {
  public:
    virtual void CommNotify(int lParam, int wParam) = 0;

  protected:
    ~CommNotifySink() = default;
};

class CCommLink {
  public:
    CCommLink() = default;
    CCommLink(const CCommLink&) = delete;
    CCommLink& operator=(const CCommLink&) = delete;

    virtual ~CCommLink() = default;
    // Copies at most `maxBytes` waiting bytes into `buffer`; the count (0 when none wait).
    virtual int Read(char* buffer, int maxBytes) = 0;
    // Sends the NUL-terminated `text` without its terminator; returns its length.
    virtual int Write(const char* text) = 0;
    virtual void Close() = 0;
    virtual void SetEventChar(char c) = 0;
    // 1: every Write also tells the reader that a reply is due.
    virtual void SetWriteSignal(int flag) = 0;

    // The owner is set before the link is used and outlives it; null silences the link.
    void SetOwner(CommNotifySink* owner) { owner_.store(owner); }
    CommNotifySink* Owner() const { return owner_.load(); }

    void SetReadingMode(int mode) { readingMode_.store(mode); }
    int ReadingMode() const { return readingMode_.load(); }
    int WriteSignal() const { return writeSignal_.load(); }

    // Raised by the UPS object when a SEC poll sequence is over; the polled reader waits on it.
    platform::Event& ContinueEvent() { return continue_; }
    // Raised by Write when the write signal is on; the event-driven reader waits on it.
    platform::Event& WriteDoneEvent() { return writeDone_; }

  protected:
    void Notify(int lParam, int wParam = 0) {
        if (CommNotifySink* owner = owner_.load()) owner->CommNotify(lParam, wParam);
    }

    // Written by the UPS thread, read by a link's reader thread.
    std::atomic<int> writeSignal_{0};
    std::atomic<int> readingMode_{kReadEventDriven};

  private:
    std::atomic<CommNotifySink*> owner_{nullptr};
    platform::Event continue_{platform::Event::Mode::kManualReset};
    platform::Event writeDone_{platform::Event::Mode::kAutoReset};
};

}  // namespace torvane
