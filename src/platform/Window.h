#pragma once

#include <string>

namespace quorvel {

class WebView;

struct WindowStyle {
    bool titled = true;
    bool closable = true;
    bool miniaturizable = true;
    bool resizable = true;
};

// A top-level window. Closing it only takes it off screen.
class Window {
public:
    virtual ~Window() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void center() = 0;
    // The view fills the content area and follows its size.
    virtual void setContentView(WebView& view) = 0;
    // On screen, in front and focused, also after the user closed it.
    virtual void makeKeyAndOrderFront() = 0;
};

} // namespace quorvel
