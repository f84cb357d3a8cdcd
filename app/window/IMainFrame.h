// The main window's frame as its pages reach it: the status line they share and the two pages, which a page
// hides, shows and switches to while it holds the meter.
#pragma once

#include <string>

namespace rv {

class IMainFrame {
public:
    // The status line; the KFS page shows its steps there too.
    virtual void SetLStatusCaption(const std::string& text) = 0;
    // TabSheet1 is the verification page, TabSheet2 the KFS page.
    virtual void SetTabSheet1(bool visible, bool enabled) = 0;
    virtual void SetTabSheet2(bool visible, bool enabled) = 0;
    // 0 TabSheet1, 1 TabSheet2.
    virtual void SetActivePage(int page) = 0;

protected:
    ~IMainFrame() = default;
};

}  // namespace rv
