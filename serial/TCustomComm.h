// The serial port component: line settings, opening and closing the device, queues, line
// status and control lines, reads and writes with time-outs, and the device events delivered
// by its event thread. Every failure is an EDeviceError with a message and a code.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CommSettings.h"
#include "CommTypes.h"
#include "ISerialPlatform.h"
#include "XAsync.h"
#include "core/Event.h"
#include "core/TObject.h"

namespace rv {

class Loop;
class TCommEventThread;

class TCustomComm : public TComponent {
public:
    // Platform null: the default platform (the POSIX one unless a test set another).
    explicit TCustomComm(TComponent* Owner = nullptr, ISerialPlatform* Platform = nullptr);
    // An open port is closed first, its event thread stopped.
    ~TCustomComm() override;

    // ---- Settings. Setters store; on an open port outside BeginUpdate/EndUpdate they apply at
    // once. Getters of an open port report what the device has, or the stored value when the
    // device cannot tell.
    TBaudRate GetBaudRate() const;
    void SetBaudRate(TBaudRate Value);  // unless brCustom, BaudValue follows the rate table
    uint32_t GetBaudValue() const;
    void SetBaudValue(uint32_t Value);  // only while BaudRate is brCustom
    TCommBuffers& GetBuffers() { return buffers_; }
    const TCommBuffers& GetBuffers() const { return buffers_; }
    void SetBuffers(const TPersistent& Value) { buffers_.Assign(Value); }
    TFlowSettings GetCTSSettings() const;
    void SetCTSSettings(TFlowSettings Value);  // only while FlowControl is fcCustom
    TCommDataControl& GetDataControl() { return dataControl_; }
    const TCommDataControl& GetDataControl() const { return dataControl_; }
    void SetDataControl(const TPersistent& Value) { dataControl_.Assign(Value); }
    const std::string& GetDeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string& Value);  // ignored while open
    TFlowSettings GetDTRSettings() const;
    void SetDTRSettings(TFlowSettings Value);  // only while FlowControl is fcCustom
    TCommEventChars& GetEventChars() { return eventChars_; }
    const TCommEventChars& GetEventChars() const { return eventChars_; }
    void SetEventChars(const TPersistent& Value) { eventChars_.Assign(Value); }
    TDeviceEvents GetMonitorEvents() const { return TDeviceEvents::FromBits(monitorEvents_.load()); }
    void SetMonitorEvents(TDeviceEvents Value) { monitorEvents_ = Value.ToBits(); }
    TFlowControl GetFlowControl() const;
    void SetFlowControl(TFlowControl Value);  // sets CTSSettings and DTRSettings by the preset
    TCommOptions GetCommOptions() const;
    void SetCommOptions(TCommOptions Value);
    // True: device events are handled on the loop thread while the event thread waits;
    // false: on the event thread itself.
    bool GetSynchronize() const { return synchronize_; }
    void SetSynchronize(bool Value) { synchronize_ = Value; }

    // ---- Events. OnData and OnCommEvent run where Synchronize says; OnRead and OnSend on the
    // thread that reads or writes, under the callback lock (no reading or writing inside them).
    TCommEvent OnCommEvent;
    TDataEvent OnData;
    TNotifyEvent OnRead;
    TNotifyEvent OnSend;
    // The device failed or vanished while open (an adapter unplugged); raised once, where
    // OnData would be. No events follow until the port is closed and opened again.
    TNotifyEvent OnDeviceLost;

    // ---- The device.
    // Opens DeviceName and starts the event thread; raises SDOpenError (the port stays closed)
    // or, when the settings are refused, the settings error with the port left open.
    virtual bool OpenDevice();
    // Stops the event thread (serving hand-overs while it ends) and closes the device.
    virtual void CloseDevice();
    bool GetOpened() const { return device_ != nullptr; }

    bool UpdateDCB();
    bool UpdateBuffers();  // purges all four queues, then requests the queue sizes
    // Input events wait until Bytes are queued (1..255; 0 counts as 1): a data handler that knows
    // how many bytes complete its packet is woken once for them. Reads and their waits are not held
    // back, and a device failure is still reported at once. Kept across settings changes and
    // reopening; a device that cannot count raises every byte.
    void SetReceiveThreshold(uint32_t Bytes);
    uint32_t GetReceiveThreshold() const { return threshold_; }
    void BeginUpdate();
    bool EndUpdate();
    bool PurgeIn();
    bool PurgeOut();
    // Queue 0: bytes waiting to be read, 1: bytes waiting to go out; clears the error state.
    uint32_t GetCount(int Queue);
    uint32_t GetTotalReceived();
    TCommStatus GetCommStatus();  // empty when the device cannot tell
    TBaudRate GetMaxBaud();
    void ToggleBreak(TBreakStatus Value);
    void ToggleDTR(TBreakStatus Value);
    void ToggleRTS(TBreakStatus Value);
    void ToggleXonXoff(TBreakStatus Value);

    // ---- Reading and writing. Each gives up when nothing can be done and more than Timeout ms
    // have passed since the call began; a waiting call uses no CPU. A time-out is no error.
    uint32_t SendDataEx(const void* Buffer, uint32_t Count, uint32_t Timeout);
    uint32_t SendData(const void* Buffer, uint32_t Count);
    bool SendByte(uint8_t B);
    bool SendString(const std::string& S);
    uint32_t ReadDataEx(void* Buffer, uint32_t Count, uint32_t Timeout);
    uint32_t ReadData(void* Buffer, uint32_t Count);
    bool ReadByte(uint8_t& B);
    bool ReadString(std::string& S);
    bool ReadString(std::string& S, int Count);
    // Reads byte by byte until one of Strings occurs in what was read (Timeout 0: no limit, until
    // the application ends or the device fails). No OnData or OnCommEvent is raised meanwhile.
    bool WaitForString(const std::vector<std::string>& Strings, uint32_t Timeout);

    virtual bool GetLocked();

    // ---- Asynchronous transfers, one per handle (XAsync.h); loop thread. The buffers must live
    // until the transfer completes. Closing the port ends running transfers as failures.
    // Stores P as the port's completion handler (also when it then fails, and for transfers
    // already running) and returns a record for one transfer on this port.
    HASYNC InitAsync(TAsyncProc P, bool R);
    bool CloseAsync(HASYNC H);
    // Both run HandleEvents with deOutEmpty at once, not at completion.
    uint32_t SendAsync(HASYNC H, const void* Buffer, uint32_t Count);
    uint32_t SendStringAsync(HASYNC H, const std::string& S);  // empty S: nothing is started
    uint32_t ReadAsync(HASYNC H, void* Buffer, uint32_t Count);
    uint32_t ReadStringAsync(HASYNC H, std::string& S);
    bool WaitAsync(HASYNC H, const TWaitProc& WaitProc);
    // The completion routine of the port's records: counters, OnSend or OnRead, then the handler.
    void InternalAsyncProc(bool Success, void* Data, int32_t Count);

    // Turns device events into OnData (first) and OnCommEvent; runs on the thread that calls it.
    virtual void HandleEvents(TDeviceEvents Events);
    virtual void ReceiveData(uint32_t Count);

    // ---- State for callers that need more than the flags above.
    bool GetDeviceLost() const { return deviceLost_; }
    // The message of the exception that ended the event thread's loop, empty if none did.
    std::string GetEventError() const;
    uint32_t GetSentCount() const { return sent_; }
    uint32_t GetTakenOutCount() const { return takenOut_; }
    ISerialPlatform& GetPlatform() const { return *platform_; }

protected:
    // The open device, null while closed. Transfers on it may run on any thread.
    ISerialDevice* Device() const { return device_.get(); }
    uint32_t TickCount() const { return platform_->TickCount(); }
    bool IsUpdating() const { return updating_; }
    bool GetStringWait() const { return stringWait_; }
    bool GetCallbackLock() const { return callbackLock_; }
    void SetCallbackLock(bool Value) { callbackLock_ = Value; }
    // Counters for transfers made past ReadDataEx/SendDataEx (asynchronous ones).
    void AddTakenOut(uint32_t Count) { takenOut_ += Count; }
    void AddSent(uint32_t Count) { sent_ += Count; }
    // Waits up to Ms for input to be queued; false when none came in time or the device failed.
    bool WaitForInput(uint32_t Ms);
    // SReadError / SSendError style: the message with the platform's last error appended.
    [[noreturn]] void RaiseSystemError(const char* Msg, int Code) const;
    void RequireOpen() const;

private:
    friend class TCommDataControl;
    friend class TCommBuffers;
    friend class TCommEventChars;
    friend class TCommEventThread;

    // Re-applies the control block / the queue sizes when open and not inside an update.
    void Reapply();
    void ReapplyBuffers();
    bool ReadDeviceState(SDeviceControlBlock& dcb) const;
    bool ReadDeviceProperties(SCommProp& prop) const;
    void StopEventThread();
    // Joins the retired threads that the calling thread can wait for.
    void ReapRetired();
    void ResetOnClose();
    void DeviceLost();
    void SetEventError(const std::string& Text);
    // Ends the transfers of this port's records before the device goes (Forget: the port goes too).
    void EndAsync(bool Forget);
    // SCommClosed while closed or while running transfers are being ended.
    void RequireAsyncOpen() const;
    // Bounds a wait for the rest of a time-out: until the tick after start + Timeout.
    uint32_t RemainingWait(uint32_t Start, uint32_t Timeout) const;

    ISerialPlatform* platform_;
    std::string deviceName_ = "COM2";
    TBaudRate baudRate_ = br9600;
    uint32_t baudValue_ = 9600;
    TFlowSettings ctsSettings_ = fsDisable;
    TFlowSettings dtrSettings_ = fsDisable;
    TFlowControl flowControl_ = fcNone;
    TCommOptions options_;
    TCommBuffers buffers_{this};
    TCommDataControl dataControl_{this};
    TCommEventChars eventChars_{this};
    std::atomic<uint16_t> monitorEvents_{TDeviceEvents{deChar, deFlag, deOutEmpty}.ToBits()};
    std::atomic<bool> synchronize_{true};
    std::atomic<uint32_t> threshold_{1};

    std::unique_ptr<ISerialDevice> device_;
    std::unique_ptr<TCommEventThread> eventThread_;
    // Threads stopped from inside their own handlers; they end by themselves and are joined later.
    std::vector<std::unique_ptr<TCommEventThread>> retired_;
    Loop* loop_ = nullptr;  // where synchronized events are handed over, taken when opening
    std::atomic<uint32_t> takenOut_{0};
    std::atomic<uint32_t> sent_{0};
    bool updating_ = false;
    // Plain flags in meaning; atomic because the event thread reads them.
    std::atomic<bool> stringWait_{false};
    std::atomic<bool> callbackLock_{false};
    std::atomic<bool> destroying_{false};
    std::atomic<bool> deviceLost_{false};
    mutable std::mutex errorMu_;
    std::string eventError_;
    TAsyncProc asyncProc_;
    bool endingAsync_ = false;
};

}  // namespace rv
