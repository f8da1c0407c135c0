#pragma once
// The event loop as the core sees it. A sink of the line pipeline must return at once, so what
// would wait on the operator (an error box) is posted: it runs from the loop once the event at
// work is done. The composition root provides the loop; tests run the posted tasks themselves.

#include <functional>

class IEventLoop {
  public:
    virtual ~IEventLoop() = default;
    virtual void Post(std::function<void()> task) = 0;
};
