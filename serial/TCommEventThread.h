// The worker that waits for a port's device events and hands each set to the port: on the loop
// thread (waiting until it has been handled) when the port synchronizes, else on itself.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>

namespace rv {

class Loop;
class TCustomComm;

class TCommEventThread {
public:
    // Starts waiting on the port's open device at once. Synchronized events go to loop (none: they
    // are handled on this thread).
    TCommEventThread(TCustomComm* Port, Loop* loop);
    // Stops the thread if Stop has not, and waits for its end.
    ~TCommEventThread();
    TCommEventThread(const TCommEventThread&) = delete;
    TCommEventThread& operator=(const TCommEventThread&) = delete;

    // Detaches the port, signals the close event and waits for the thread to end, serving the
    // loop's hand-overs meanwhile so a dispatch waiting for the loop thread can finish. True when
    // it has ended. False when called from inside one of the thread's own dispatches: it then ends
    // by itself as soon as that handler returns, touching neither port nor device again, and must
    // be destroyed later from outside its dispatches.
    bool Stop();
    // Whether the calling thread is inside one of this thread's dispatches (it cannot wait for it).
    bool InsideOwnDispatch() const;

private:
    void Join();
    struct State;
    static void Run(const std::shared_ptr<State>& st);
    static void DispatchEvents(State& st);
    template <class Fn>
    static void Deliver(State& st, Fn&& fn);
    static void Finish(State& st);

    // Shared with the thread, which may outlive this object when a handler closed the port.
    std::shared_ptr<State> st_;
    std::thread thread_;
};

}  // namespace rv
