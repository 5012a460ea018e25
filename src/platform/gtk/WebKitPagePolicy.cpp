#include "platform/gtk/WebKitPageView.h"

#include <array>
#include <gdk/gdkkeysyms.h>
#include <utility>
#include <webkit2/webkit2.h>

// What the page may do with the window: where it may navigate, its new
// windows, the engine's own prompts and menu, and going back and forward.
namespace quorvel::gtk {

namespace {

NavigationAction actionFacts(WebKitNavigationAction* action, bool newWindow) {
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    return NavigationAction{uri ? uri : "", webkit_navigation_action_is_user_gesture(action) != 0,
                            newWindow};
}

// Items that would open another window, which this application has not.
constexpr std::array newWindowItems{
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT,
};

// The engine's own words for its "Open Link" item, in the user's language.
constexpr const char* engineTextDomain = "WebKitGTK-4.1";
constexpr const char* openLinkLabel = "_Open Link";

// The mouse's back and forward buttons.
constexpr guint backButton = 8;
constexpr guint forwardButton = 9;

} // namespace

void WebKitPageView::connectPolicySignals() {
    g_signal_connect(view, "create", G_CALLBACK(onCreate), this);
    g_signal_connect(view, "authenticate", G_CALLBACK(onAuthenticate), this);
    g_signal_connect(view, "context-menu", G_CALLBACK(onContextMenu), this);
    g_signal_connect(view, "key-press-event", G_CALLBACK(onKeyPress), this);
    g_signal_connect(view, "button-press-event", G_CALLBACK(onButtonPress), this);
    g_signal_connect(view, "notify::is-web-process-responsive", G_CALLBACK(onResponsivenessChanged),
                     this);
}

// The engine does not say which frame a navigation is for (the frame name is
// that of the link's target, "_top" say): subframes are judged as the main
// frame is, so no frame of the page loads another origin either. The message
// page is the application's own.
gboolean WebKitPageView::decideNavigation(gpointer decisionPointer, bool newWindow) {
    if (!navigationDelegate || phase == LoadPhase::MessagePage) {
        return FALSE;
    }
    auto* decision = WEBKIT_NAVIGATION_POLICY_DECISION(decisionPointer);
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(decision);
    NavigationAction facts = actionFacts(action, newWindow);
    if (const auto chosen = std::exchange(linkOpenedFromMenu, std::nullopt)) {
        facts.userInitiated = facts.userInitiated || *chosen == facts.url;
    }
    const bool load = navigationDelegate->webViewShouldStartNavigation(facts);
    if (newWindow) {
        // No second view: an address that may load, loads in this one.
        webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
        if (load) {
            loadNewWindowAddress(facts.url.c_str());
        }
        return TRUE;
    }
    if (load) {
        return FALSE;
    }
    webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
    return TRUE;
}

void WebKitPageView::loadNewWindowAddress(const char* uri) {
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri);
}

// window.open(): the page gets no window object back.
GtkWidget* WebKitPageView::onCreate(GtkWidget*, gpointer actionPointer, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    if (!self->navigationDelegate || self->phase == LoadPhase::MessagePage) {
        return nullptr;
    }
    const NavigationAction facts =
        actionFacts(static_cast<WebKitNavigationAction*>(actionPointer), true);
    if (self->navigationDelegate->webViewShouldStartNavigation(facts)) {
        self->loadNewWindowAddress(facts.url.c_str());
    }
    return nullptr;
}

// Going on without credentials (turning the challenge down would fail the
// load): the page shows the server's answer to the request without them, its
// 401 page. No prompt, nothing remembered.
gboolean WebKitPageView::onAuthenticate(GtkWidget*, gpointer requestPointer, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    auto* request = WEBKIT_AUTHENTICATION_REQUEST(requestPointer);
    if (self->navigationDelegate) {
        const char* uri = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(self->view));
        self->navigationDelegate->webViewDidRefuseAuthentication(uri ? uri : "");
    }
    webkit_authentication_request_authenticate(request, nullptr);
    return TRUE;
}

// The engine's "Open Link" navigates as if no one asked for it, so the link
// would be refused when it leads elsewhere: the item is replaced by one that
// opens the link as the user's choice.
gboolean WebKitPageView::onContextMenu(GtkWidget*, gpointer menuPointer, gpointer,
                                       gpointer hitPointer, gpointer data) {
    auto* menu = WEBKIT_CONTEXT_MENU(menuPointer);
    auto* hit = WEBKIT_HIT_TEST_RESULT(hitPointer);
    const char* link = webkit_hit_test_result_context_is_link(hit)
                           ? webkit_hit_test_result_get_link_uri(hit)
                           : nullptr;
    GList* items = g_list_copy(webkit_context_menu_get_items(menu));
    for (GList* item = items; item != nullptr; item = item->next) {
        auto* entry = WEBKIT_CONTEXT_MENU_ITEM(item->data);
        const auto action = webkit_context_menu_item_get_stock_action(entry);
        if (action == WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK && link) {
            GSimpleAction* open = g_simple_action_new("open-link", nullptr);
            g_object_set_data_full(G_OBJECT(open), "uri", g_strdup(link), g_free);
            g_signal_connect(open, "activate", G_CALLBACK(onOpenLinkChosen), data);
            const gint position = g_list_index(webkit_context_menu_get_items(menu), entry);
            webkit_context_menu_remove(menu, entry);
            webkit_context_menu_insert(
                menu,
                webkit_context_menu_item_new_from_gaction(
                    G_ACTION(open), g_dgettext(engineTextDomain, openLinkLabel), nullptr),
                position);
            g_object_unref(open);
            continue;
        }
        for (const auto unwanted : newWindowItems) {
            if (action == unwanted) {
                webkit_context_menu_remove(menu, entry);
                break;
            }
        }
    }
    g_list_free(items);
    return FALSE;
}

void WebKitPageView::onOpenLinkChosen(GSimpleAction* action, GVariant*, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    self->openLinkFromMenu(static_cast<const char*>(g_object_get_data(G_OBJECT(action), "uri")));
}

void WebKitPageView::openLinkFromMenu(const char* uri) {
    if (!uri) {
        return;
    }
    linkOpenedFromMenu = uri;
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri);
}

gboolean WebKitPageView::onKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    const auto modifiers = event->state & gtk_accelerator_get_default_mod_mask();
    if (modifiers != GDK_MOD1_MASK) {
        return FALSE;
    }
    auto* engine = WEBKIT_WEB_VIEW(self->view);
    switch (event->keyval) {
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
        if (webkit_web_view_can_go_back(engine)) {
            webkit_web_view_go_back(engine);
        }
        return TRUE;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
        if (webkit_web_view_can_go_forward(engine)) {
            webkit_web_view_go_forward(engine);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

gboolean WebKitPageView::onButtonPress(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    auto* engine = WEBKIT_WEB_VIEW(self->view);
    if (event->type != GDK_BUTTON_PRESS) {
        return FALSE;
    }
    if (event->button == backButton) {
        if (webkit_web_view_can_go_back(engine)) {
            webkit_web_view_go_back(engine);
        }
        return TRUE;
    }
    if (event->button == forwardButton) {
        if (webkit_web_view_can_go_forward(engine)) {
            webkit_web_view_go_forward(engine);
        }
        return TRUE;
    }
    return FALSE;
}

void WebKitPageView::onResponsivenessChanged(GtkWidget*, gpointer, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    if (self->navigationDelegate) {
        self->navigationDelegate->webViewWebContentProcessResponsivenessChanged(
            webkit_web_view_get_is_web_process_responsive(WEBKIT_WEB_VIEW(self->view)) != 0);
    }
}

} // namespace quorvel::gtk
