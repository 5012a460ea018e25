#pragma once

#include "platform/Interface.h"

#include <string>

namespace quorvel {

struct WebView;

struct WindowStyle {
    bool titled = true;
    bool closable = true;
    bool miniaturizable = true;
    bool resizable = true;
};

// What becomes of the window on screen.
struct WindowDelegate : Interface {
    // The user closed the window: it is off screen.
    virtual void windowDidClose() = 0;
    // The window came on screen.
    virtual void windowDidShow() = 0;
};

// A top-level window. Closing it only takes it off screen.
struct Window : Interface {
    virtual void setDelegate(WindowDelegate* delegate) = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual void center() = 0;
    // The view fills the content area and follows its size.
    virtual void setContentView(WebView& view) = 0;
    // On screen, in front and focused, also after the user closed it.
    virtual void makeKeyAndOrderFront() = 0;
    // On screen and holding the focus: the user is looking at it.
    virtual bool isActive() const = 0;
};

} // namespace quorvel
