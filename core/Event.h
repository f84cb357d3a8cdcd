// Event properties: a bound handler that is skipped when unassigned and can be saved and put back.
#pragma once

#include <functional>
#include <utility>

namespace rv {

class TObject;

template <class Sig>
class Event;

template <class R, class... A>
class Event<R(A...)> {
public:
    Event() = default;
    Event(std::nullptr_t) {}
    template <class F, class = std::enable_if_t<std::is_invocable_r_v<R, F&, A...> &&
                                                !std::is_same_v<std::decay_t<F>, Event>>>
    Event(F&& f) : fn_(std::forward<F>(f))
    {
    }
    // A method bound to its object, the usual form of a handler.
    template <class T>
    Event(T* obj, R (T::*method)(A...)) : fn_([obj, method](A... a) -> R { return (obj->*method)(a...); })
    {
    }

    bool Assigned() const { return static_cast<bool>(fn_); }
    explicit operator bool() const { return Assigned(); }
    void Clear() { fn_ = nullptr; }
    // The handler if it is an F, else null: lets a component tell whether a slot still holds the
    // handler it installed there.
    template <class F>
    const F* Target() const
    {
        return fn_.template target<F>();
    }

    // Calls the handler; an unassigned event is skipped (a non-void result is then value-initialised).
    R operator()(A... a) const
    {
        if (!fn_) {
            if constexpr (std::is_void_v<R>) return;
            else return R{};
        }
        return fn_(std::forward<A>(a)...);
    }

private:
    std::function<R(A...)> fn_;
};

template <class T, class R, class... A>
Event<R(A...)> Bind(T* obj, R (T::*method)(A...))
{
    return Event<R(A...)>(obj, method);
}

using TNotifyEvent = Event<void(TObject* Sender)>;

}  // namespace rv
