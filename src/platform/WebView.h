#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quorvel {

enum class CachePolicy {
    UseProtocolCachePolicy = 0,
    ReloadIgnoringLocalCacheData = 1,
};

struct PageRequest {
    std::string url;
    CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy;
    double timeoutSeconds = 60.0;
};

// Facts the web view reports about navigations.
class WebViewNavigationDelegate {
public:
    virtual ~WebViewNavigationDelegate() = default;
    // A navigation finished without failing.
    virtual void webViewDidFinishNavigation() = 0;
};

// The page's script dialogs. Each completion must be called exactly once,
// before the method returns; the page's script waits for it.
class WebViewUIDelegate {
public:
    virtual ~WebViewUIDelegate() = default;
    virtual void runJavaScriptAlertPanel(const std::string& message,
                                         const std::function<void()>& completion) = 0;
    virtual void runJavaScriptConfirmPanel(const std::string& message,
                                           const std::function<void(bool)>& completion) = 0;
    virtual void runJavaScriptTextInputPanel(
        const std::string& prompt, const std::optional<std::string>& defaultText,
        const std::function<void(std::optional<std::string>)>& completion) = 0;
};

// The embedded web view, created with the engine's default settings.
class WebView {
public:
    virtual ~WebView() = default;
    virtual void setNavigationDelegate(WebViewNavigationDelegate* delegate) = 0;
    virtual void setUIDelegate(WebViewUIDelegate* delegate) = 0;
    virtual void load(const PageRequest& request) = 0;
    virtual void reload() = 0;
};

} // namespace quorvel
