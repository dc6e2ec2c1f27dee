#pragma once
// The serial device component: the one object through which the program reaches a port.
// It owns an I/O engine (TTalonComm), a package layer (TCommPackage) stacked on it and the
// frame settings, and turns their thread-side notifications into component events, raised on
// the worker thread that noticed them. Handing them to another thread is the owner's business
// (the board session's).

#include "CommTypes.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace TalonComm {

class TTalonComm;
class TCommPackage;
class TCommQueue;
class TRkCustomCommDevice;

// Frame marker bytes of the package layer, read and written through to it.
class TRkCommFrameSettings {
  public:
    explicit TRkCommFrameSettings(TCommPackage* package) : m_package(package) {}

    std::uint8_t fGetFrameHead() const;
    void fSetFrameHead(std::uint8_t v);
    std::uint8_t fGetFrameTail() const;
    void fSetFrameTail(std::uint8_t v);
    std::uint8_t fGetFrameCtrl() const;
    void fSetFrameCtrl(std::uint8_t v);
    bool fGetDoubleFrameMark() const;
    void fSetDoubleFrameMark(bool v);
    // Copies head, tail and control bytes (not DoubleFrameMark).
    void SetValues(const TRkCommFrameSettings& other);

  private:
    TCommPackage* m_package;
};

class TRkCustomCommDevice : public TObject {
  public:
    TRkCustomCommDevice();
    ~TRkCustomCommDevice() override;
    TRkCustomCommDevice(const TRkCustomCommDevice&) = delete;
    TRkCustomCommDevice& operator=(const TRkCustomCommDevice&) = delete;

    // --- virtual operations ---
    virtual long Read(void* buf, long n);
    virtual long Write(const void* buf, long n);
    virtual long Command(const char* text);
    virtual bool ReadPackage(void* buf);
    virtual bool WritePackage(const void* buf);
    virtual unsigned long ReadPackage(void* buf, unsigned long n);
    virtual unsigned long WritePackage(const void* buf, unsigned long n);
    virtual void PurgeRead(bool abort);
    virtual void PurgeWrite(bool abort);
    virtual void ResetModem();
    virtual void InitModem();
    virtual bool EscapeCommFunction(unsigned long code);
    virtual void EvCommNotify(TObject* Sender, int NotifyType);
    virtual void EvPackageNotify(TObject* Sender, int NotifyType);
    virtual void EvAfterOpen(TObject* Sender);
    virtual void EvBeforeClose(TObject* Sender);

    // Waits (bounded) until a Write of n bytes can be accepted in full. Returns false on
    // timeout or when the port is not active. Callers that must not drop bytes use this
    // instead of retrying in a loop.
    bool WaitWriteRoom(long n, std::chrono::milliseconds timeout);
    // Waits (bounded) until every byte handed to Write has left for the driver and the
    // driver's output queue is empty. Returns false on timeout or when not active.
    bool WaitWriteDrained(std::chrono::milliseconds timeout);

    // --- properties (published) ---
    int fGetPortNo() const;
    void fSetPortNo(int n);
    std::string fGetPortName() const;
    void fSetPortName(const std::string& name);
    std::string fGetPortParams() const;
    void fSetPortParams(const std::string& s);
    TBaudRate fGetBaud() const;
    void fSetBaud(TBaudRate b);
    std::uint32_t fGetBaudRate() const;
    void fSetBaudRate(std::uint32_t b);
    TParity fGetParity() const;
    void fSetParity(TParity p);
    int fGetByteSize() const;
    void fSetByteSize(int n);
    TStopBits fGetStopBits() const;
    void fSetStopBits(TStopBits s);
    TFlowControl fGetFlowControl() const;
    void fSetFlowControl(TFlowControl f);
    int fGetAutoAnswer() const;
    void fSetAutoAnswer(int n);
    // Published for the component's settings; events are raised on the worker thread either way.
    bool fGetSyncEvents() const { return m_syncEvents.load(std::memory_order_relaxed); }
    void fSetSyncEvents(bool b) { m_syncEvents.store(b, std::memory_order_relaxed); }
    bool fGetDataOnly() const;
    void fSetDataOnly(bool b);
    long fGetInBufSize() const;
    void fSetInBufSize(long n);
    long fGetOutBufSize() const;
    void fSetOutBufSize(long n);
    long fGetHwInSize() const;
    void fSetHwInSize(long n);
    long fGetHwOutSize() const;
    void fSetHwOutSize(long n);
    std::uint32_t fGetQueueSize() const;
    void fSetQueueSize(std::uint32_t n);
    std::uint32_t fGetPackageSize() const;
    void fSetPackageSize(std::uint32_t n);
    TCommPackageType fGetPackageType() const;
    void fSetPackageType(TCommPackageType t);
    std::uint32_t fGetPackageInterval() const;
    void fSetPackageInterval(std::uint32_t ms);
    bool fGetUsePackage() const { return m_usePackage; }
    void fSetUsePackage(bool b);
    TRkCommFrameSettings* fGetFrameSettings() const { return m_frameSettings; }
    void fSetFrameSettings(const TRkCommFrameSettings& s);

    // --- properties (public, unpublished) ---
    bool fGetActive() const;
    void fSetActive(bool b); // throws ETalonCommError when the port cannot be opened or closed
    int fGetHandle() const;
    void fSetHandle(int fd);
    TCommQueue* fGetInQueue() const;
    TCommQueue* fGetOutQueue() const;
    unsigned fGetModemStatus() const; // bit 0 CTS, 1 DSR, 2 RING, 3 RLSD
    bool fGetDisableWrite() const;
    void fSetDisableWrite(bool b);
    bool fGetDTR() const;
    void fSetDTR(bool b);
    bool fGetRTS() const;
    void fSetRTS(bool b);
    bool fGetCTS() const;
    bool fGetDSR() const;
    bool fGetRING() const;
    bool fGetRLSD() const;

    // --- events ---
    // Owner's thread, while the port is closed: the worker threads call them.
    TCommNotifyEvent OnCommNotify;
    TCommNotifyEvent OnPackage;
    TCommSimpleEvent AfterOpen;
    TCommSimpleEvent BeforeClose;

    TTalonComm* Engine() const { return m_engine; }
    TCommPackage* Package() const { return m_package; }

  protected:
    // Stops all event delivery and every thread, closing the port; errors are swallowed.
    // Called by the destructors while the most derived object is still intact, so that no
    // worker thread calls a virtual handler of a half-destroyed object. Idempotent.
    void Shutdown();

    void _EvComm(TObject* Sender, int NotifyType);
    void _EvPackage(TObject* Sender, int NotifyType);
    void _EvAfterOpen(TObject* Sender);
    void _EvBeforeClose(TObject* Sender);

  private:
    TTalonComm* m_engine = nullptr;
    TCommPackage* m_package = nullptr;
    TRkCommFrameSettings* m_frameSettings = nullptr;
    bool m_usePackage = false;
    std::atomic<bool> m_syncEvents{true};
    // Cleared by the shutdown, so that no event is raised for a device being destroyed.
    std::shared_ptr<std::atomic<bool>> m_alive;
};

// The published component. Adds nothing but its published properties' defaults.
class TRkCommDevice : public TRkCustomCommDevice {
  public:
    TRkCommDevice() = default;
    ~TRkCommDevice() override { Shutdown(); }
};

} // namespace TalonComm
